// Where the panel keeps config.ini, the window layout and its font file.
#pragma once

#include <optional>
#include <string>

namespace settings {

// $SKYVANE_HOME when set; else the executable's directory when it is writable; else $XDG_CONFIG_HOME/skyvane
// (~/.config/skyvane, the home folder the account database names when $HOME is unset), created on demand.
// Never a folder other users may write to that the user did not name: without any home it is /.config/skyvane,
// which only root can make. Never fails: a directory that cannot be made is still returned, and
// reading from or writing to it then fails softly where it is used.
std::string dataDirectory();

// Why another user could swap the files of `directory` for their own: the folder itself or one above it is
// another user's (root's aside), or others may write to it without the sticky bit (a folder there can be
// renamed away and replaced). Nothing when only this user and root can. Symbolic links are followed first.
std::optional<std::string> whyOthersCanSwap(const std::string& directory);

// The data directory held open for the whole run: every file of it is read and written through this
// descriptor (openat, renameat), so that once the program runs, the directory renamed away and another put in
// its place receives nothing and gives nothing. Opened without following a link at its own name, unless that
// link leads to a directory of this user's.
class DirectoryHandle {
public:
  explicit DirectoryHandle(std::string path);
  ~DirectoryHandle();
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  int fd() const { return m_fd; }  // -1 when it could not be opened: every use then fails with a reason
  const std::string& path() const { return m_path; }

private:
  std::string m_path;
  int m_fd = -1;
};

// The directory of the running program (from /proc/self/exe), empty when it cannot be told.
std::string executableDirectory();

// The rule itself, from what the environment says (empty strings for unset variables).
struct DataDirectoryInputs {
  std::string skyvaneHome;
  std::string executableDir;
  bool executableDirWritable = false;
  std::string xdgConfigHome;
  std::string home;
  std::string accountHome;  // the account database's home folder, for when $HOME is unset
  // The programs are installed (share/skyvane beside their bin/): their folder is the system's or a prefix's,
  // not the place for new user files, even where it is writable (root, a prefix in the home folder)...
  bool executableDirInstalled = false;
  // ...unless it holds config.ini or ConfigWindows.cfg already: an earlier version kept them there.
  bool executableDirHoldsSettings = false;
};
std::string chooseDataDirectory(const DataDirectoryInputs& in);

}  // namespace settings

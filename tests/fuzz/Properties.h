// The properties the fuzz targets check, one function per reader, each taking the raw input bytes: nullopt
// when every property held, else what went wrong. The fuzz targets abort on a failure; the unit tests run the
// same checks on fixed inputs, so they also run without clang.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::span<const std::uint8_t>;

// config.ini, one read: a file without an '=' sets nothing and says nothing, there are no more warnings than
// '=' characters, and every warning names its key. Cheap, so that the reader itself is explored at full speed
// for what the sanitizers find; the properties that read a file again are checkSettingsFile's.
std::optional<std::string> checkSettingsReader(Bytes input);

// config.ini, three reads: upper-casing the file changes no setting (the [IAS] unit text, being a value, only
// changes its case); the --check-config lines written back as a file read back the same settings, without a
// warning.
std::optional<std::string> checkSettingsFile(Bytes input);

// The "[Section] Key = value" lines --check-config prints, as a config.ini file that holds those settings.
std::string settingsFileFromDescription(const std::vector<std::string>& lines);

// ConfigWindows.cfg: the table read and written again is byte-identical to the whole records that were read
// (zeros for missing ones); every roll angle read survives being set again, and its encoding is canonical
// after one round.
std::optional<std::string> checkLayoutFile(Bytes input);

// The server: input = u16 little-endian length n, n bytes of request frames as they arrive on a connection,
// then the contents of a request block. Frames decode back to their bytes, a frame cut anywhere is only
// incomplete, names that cannot be block names are refused whatever their length; a block the walk refuses
// is left unchanged with the offset space, one it serves changes only read data areas, and the answer through
// a shared block agrees with the walk in memory.
std::optional<std::string> checkServerRequest(Bytes input);

// The client's walk back over a returned block: input = a control byte, two bytes per queued read, then how
// the server's answer is spoiled. The walk writes only into destinations of the right size, a batch counts as
// answered only when every destination got bytes the server put under its reference, an honest answer fills
// every destination, and the next batch starts afresh.
std::optional<std::string> checkClientWalk(Bytes input);
// The link's reply and request frames against a little-endian reading of their own.
std::optional<std::string> checkLinkFrames(Bytes input);
// The command line's --set and --poke: refused with a reason or taken within bounds.
std::optional<std::string> checkAssignments(Bytes input);

// What comes from a real simulator or a file. For each: a packet the bridge refuses changes nothing in the
// offset space; what it takes (or a recording replays at any time) changes only bytes of catalogue rows and
// leaves every row finite; a beacon's computer name is printable; a mapping entry taken keeps its scale and
// offset within the limits and names a real target.
std::optional<std::string> checkFlightGearRecord(Bytes input);  // one UDP record, the built-in mapping
std::optional<std::string> checkXPlaneReply(Bytes input);       // one RREF reply, the built-in mapping
std::optional<std::string> checkXPlaneBeacon(Bytes input);      // one beacon datagram
std::optional<std::string> checkMappingFile(Bytes input);       // a mapping file, as both flavours
std::optional<std::string> checkReplay(Bytes input);            // a recording's text

// The feed-state block a server publishes (the input cut or padded with zeros to the block's size): a block
// taken encodes back to a block that decodes the same, and the status line made from it holds no control
// character and stays short.
std::optional<std::string> checkFeedState(Bytes input);

// A browser's message to skyvane-web: a subscription taken has valid gauges (each once), sizes and turns, and
// reads back the same from its canonical form; a message over the limit is never taken.
std::optional<std::string> checkWebMessage(Bytes input);
// skyvane-web: a browser's messages in a row, each judged alone, their changes rationed, none left waiting.
std::optional<std::string> checkClientMessages(Bytes input);
// The panel: a layout record's rectangle placed on the screens there are, within bounds and shown by one.
std::optional<std::string> checkWindowPlacement(Bytes input);
// skyvane-web: a connection's bytes judged the same however they are cut, and taken for an upgrade only at a
// bodiless GET of /ws.
std::optional<std::string> checkRequestGate(Bytes input);
// skyvane-web: Host and Origin headers, read without capitals or brackets, and a page's own origin its own.
std::optional<std::string> checkHostCheck(Bytes input);

}  // namespace fuzz

// The browser's subscription messages: what is taken (and clamped), what is refused; the frame header.
#include "WebProtocol.h"

#include <gtest/gtest.h>

#include <array>

namespace {

const std::array<std::string_view, 3> kGauges{"TForm2", "TForm3", "TForm4"};

TEST(WebProtocol, ASubscriptionListIsTakenWithSizesClampedAndDefaults) {
  const auto parsed =
      web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm3","size":400,"turn":3},{"gauge":"TForm2","size":20},)"
                              R"({"gauge":"TForm4","size":5000}]})",
                              kGauges);
  ASSERT_TRUE(parsed) << parsed.error();
  const std::vector<web::Variant> expected{{1, 400, 3}, {0, 64, 0}, {2, 1024, 0}};
  EXPECT_EQ(*parsed, expected);
  const auto defaults = web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm2"}],"other":1})", kGauges);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(*defaults, (std::vector<web::Variant>{{0, 400, 0}}));
  const auto none = web::parseClientMessage(R"({"subscribe":[]})", kGauges);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(WebProtocol, AnythingElseIsRefused) {
  const std::string tooLong = R"({"subscribe":[],"pad":")" + std::string(web::kMaxMessageBytes, 'x') + "\"}";
  const std::string deep = std::string(100, '[') + std::string(100, ']');
  for (const std::string& message : std::vector<std::string>{
           "",
           "null",
           "[]",
           "not json",
           R"({"subscribe":{}})",
           R"({"subscribe":["TForm2"]})",
           R"({"subscribe":[{"gauge":"TForm5"}]})",
           R"({"subscribe":[{"gauge":2}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":0}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":1e9}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":"400"}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":400.5}]})",
           R"({"subscribe":[{"gauge":"TForm2","turn":4}]})",
           R"({"subscribe":[{"gauge":"TForm2","turn":-1}]})",
           R"({"subscribe":[{"gauge":"TForm2"},{"gauge":"TForm2","size":200}]})",
           R"({"subscribe":[{"gauge":"TForm2"},{"gauge":"TForm3"},{"gauge":"TForm4"},{"gauge":"TForm2"}]})",
           R"({"subscribe":[{"gauge":"TForm2"}])",
           tooLong,
           deep,
           R"({"subscribe":[{"gauge":"TForm2","x":[[[[[[[[[[1]]]]]]]]]]}]})"}) {
    EXPECT_FALSE(web::parseClientMessage(message, kGauges)) << message.substr(0, 80);
  }
  // Brackets inside strings are text, not nesting.
  EXPECT_TRUE(web::parseClientMessage(R"({"subscribe":[],"note":"[[[[[[[[[[[["})", kGauges));
}

TEST(WebProtocol, AFrameIsAnEightByteHeaderAndThePicture) {
  const std::array<std::uint8_t, 3> jpeg{0xFF, 0xD8, 0xFF};
  const auto bytes = web::frameBytes({35, 1000, 2}, jpeg);
  const std::vector<std::uint8_t> expected{1, 35, 0xE8, 0x03, 2, 0, 0, 0, 0xFF, 0xD8, 0xFF};
  EXPECT_EQ(bytes, expected);
}

}  // namespace

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

std::string TextOf(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Each word as `Word`, `Word<n>`, [Word] or [Word<n>].
TEST(ScriptReference, DocumentsEveryKeyWord) {
  const std::string keys = TextOf(VORLATCH_SOURCE_DIR "/src/script/keys.h");
  const std::string reference = TextOf(VORLATCH_SOURCE_DIR "/docs/script.md");
  const std::regex word(R"re(inline constexpr char k\w+\[\] = "([A-Za-z]\w*)";)re");
  int words = 0;
  std::string missing;
  for (std::sregex_iterator it(keys.begin(), keys.end(), word), end; it != end; ++it, ++words) {
    if (!std::regex_search(reference, std::regex("[`\\[]" + (*it)[1].str() + "(<[^>]*>)?[`\\]]"))) {
      missing += ' ' + (*it)[1].str();
    }
  }
  EXPECT_GT(words, 40) << "keys.h no longer has the form this test reads";
  EXPECT_TRUE(missing.empty()) << "not in docs/script.md:" << missing;
}

}  // namespace

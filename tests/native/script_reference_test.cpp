// Every section and key word the installer and the uninstaller read is documented for
// package authors in docs/script.md.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string TextOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ScriptReference, DocumentsEveryKeyWord) {
  const std::string keys = TextOf(VORLATCH_SOURCE_DIR "/src/script/keys.h");
  const std::string reference = TextOf(VORLATCH_SOURCE_DIR "/docs/script.md");
  ASSERT_FALSE(reference.empty()) << "docs/script.md is missing";
  const std::regex word(R"re(inline constexpr char k\w+\[\] = "([A-Za-z]\w*)";)re");
  int words = 0;
  std::string missing;
  for (auto it = std::sregex_iterator(keys.begin(), keys.end(), word); it != std::sregex_iterator();
       ++it) {
    ++words;
    const std::string name = (*it)[1];
    // `Word`, `Word<n>` or [Word], [Word<n>].
    const std::regex documented("[`\\[]" + name + "(<[^>]*>)?[`\\]]");
    if (!std::regex_search(reference, documented)) {
      missing += ' ' + name;
    }
  }
  EXPECT_GT(words, 40) << "keys.h no longer has the form this test reads";
  EXPECT_TRUE(missing.empty()) << "not in docs/script.md:" << missing;
}

}  // namespace

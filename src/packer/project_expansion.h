#pragma once
// What the builder writes out for the author before it packs: a folder tree becomes ordinary
// File<n>, Source<n> and Target<n> keys, a text file becomes the Line<n> keys of a screen,
// and count keys that the project leaves out are counted. Portable.

#include <map>
#include <string>
#include <vector>

#include "packer/ini_text.h"
#include "win/code_page.h"

namespace vorlatch::packer {

struct ExpansionContext {
  std::string folder;     // the project's folder: relative paths start there
  CodePage codePage;      // of the project's paths
  bool utf8 = false;      // the installer runs with the UTF-8 code page
  bool readFiles = true;  // false: only counts (a plan that opens no file)
};

struct ExpansionWarning {
  std::string section, key;  // the project's key that it concerns
  std::string message;
};

struct Expansion {
  // File number → what it came from, for messages: "[File] Folder1 ('doc/a.txt')".
  std::map<long long, std::string> fileOrigins;
  std::vector<ExpansionWarning> warnings;
};

// Expands `project` in place. False with `error` ("[File] Folder1: 'app': not a folder") when
// something named cannot be read or used.
bool ExpandProject(IniText& project, const ExpansionContext& context, Expansion& expansion,
                   std::string& error);

// Whether a name matches a pattern of FolderExclude: `*` any run of characters, `?` one;
// letters compare without regard to case.
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace vorlatch::packer

#pragma once
// Windows path syntax, decided on the text alone (nothing here touches the file system):
// the prefixes a path can begin with, whether it is absolute, its parent, and joining a name
// onto a directory.

#include <optional>

#include "platform/wide_text.h"

namespace quarvel {

// Absolute in the Windows sense: the path begins with a prefix, and a drive-letter prefix is
// followed directly by a separator.
//   absolute:  C:\work  C:/work  \\server\share\dir  \\?\C:\work  \\?\UNC\server\share  \\.\dev
//   relative:  C:work  \work  /work  work  .\work  (empty)
// Both separators count, except after the verbatim prefix \\?\, where only '\' does.
bool is_absolute_windows_path(WideView path);

// The directory that holds `path`'s last component, with the separators between them dropped.
// None for a path without a last component: empty, a bare prefix (C:, \\server\share) or a
// root (C:\, \). A bare name has the empty parent, which stands for the current directory;
// a drive-relative name (C:file) has the bare drive (C:) as its parent.
std::optional<WideString> parent_directory(WideView path);

// `name` inside `directory`. The empty directory stays the current directory (the name alone)
// and a bare drive stays drive-relative (C: + name gives C:name).
WideString join_path(WideView directory, WideView name);

}  // namespace quarvel

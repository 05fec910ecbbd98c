#pragma once

// Creating and replacing files in a folder that others may write too: no planted link is
// followed, no existing file is reused, and a file is replaced only by a complete text.

#include <string>
#include <sys/types.h>

// Creates a new file for writing, never following a link and never opening a file that
// already exists, even a link that points nowhere. The descriptor, or -1 with errno set.
int CreateNewFile(const std::string& path, mode_t mode);

// The path that path finally names once every symbolic link in its last part has been
// followed, or path itself when it is no link. The result need not exist. False for a
// loop of links or a link that cannot be read.
bool FollowLinks(const std::string& path, std::string& target);

// Replaces the content of fileName with text. When fileName is a symbolic link, its
// target is replaced and the link stays. The text goes into a new file of a name no one
// can guess, beside the target; only when it is written, flushed and closed without
// fault does it take the target's place. An existing file keeps its permission bits, a
// new one gets the default the umask gives. On any failure the old file stays as it
// was, the new one is removed, and the result is false.
bool ReplaceFileText(const std::string& fileName, const std::string& text);

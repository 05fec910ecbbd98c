#pragma once

// The program's own folder and name, and the choice of a data folder it may write to.

#include <string>
#include <sys/types.h>

// Folder of the running program file, without a trailing delimiter.
const std::string& ProgramFolder();
// Name of the running program file without folder and extension.
const std::string& ProgramName();

// True when the variable's value is at least two characters long; value is set only then.
bool GetEnvVar(const std::string& name, std::string& value);

// True when a new file could be created in folder (given without a trailing delimiter).
// The test file is removed again. It is always a new file: an existing file or link of
// its name is neither followed nor replaced.
bool CanWriteFolder(const std::string& folder);

// The per-user folder: $APPDATA where it is set, else $XDG_CONFIG_HOME, else ~/.config,
// each followed by "Soft_7710(12)". False when none of these variables names a folder.
bool PerUserFolder(std::string& folder);

// True when a folder owned by folderOwner belongs to the system rather than to a user:
// root owns it. Root itself counts as a user here, so an installed program run by root
// does not write beside itself either.
bool IsSystemFolder(uid_t folderOwner);

// Chooses the data folder: programFolder when it is no system folder and can be written,
// else the per-user folder, created with its missing parents. folder is set only on
// success.
bool FindDataFolderFrom(const std::string& programFolder, std::string& folder);

// FindDataFolderFrom the running program's own folder.
bool FindDataFolder(std::string& folder);

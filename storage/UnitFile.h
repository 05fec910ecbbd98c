#pragma once

// The program's own folder and name, and the choice of a data folder it may write to.

#include <string>

// Folder of the running program file, without a trailing delimiter.
const std::string& ProgramFolder();
// Name of the running program file without folder and extension.
const std::string& ProgramName();

// True when the variable's value is at least two characters long; value is set only then.
bool GetEnvVar(const std::string& name, std::string& value);

// True when a new file could be created in folder (given without a trailing delimiter).
// The test file is removed again.
bool CanWriteFolder(const std::string& folder);

// The per-user folder: $APPDATA where it is set, else $XDG_CONFIG_HOME, else ~/.config,
// each followed by "Soft_7710(12)". False when none of these variables names a folder.
bool PerUserFolder(std::string& folder);

// Chooses the data folder: programFolder when it can be written, else the per-user folder,
// created with its missing parents. folder is set only on success.
bool FindDataFolderFrom(const std::string& programFolder, std::string& folder);

// FindDataFolderFrom the running program's own folder.
bool FindDataFolder(std::string& folder);

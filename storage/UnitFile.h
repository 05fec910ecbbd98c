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

// True when a folder belongs to the system rather than to the user running the program:
// root owns it and the user is someone else, or root runs the program from where
// programs are installed (/usr, /opt, /bin and the like), which is never root's own
// folder either. A build tree or portable copy that root owns elsewhere stays root's.
bool IsSystemFolder(const std::string& folder, uid_t folderOwner, uid_t user);

// Chooses the data folder: programFolder when it is no system folder and can be written,
// else the per-user folder, created with its missing parents. folder is set only on
// success.
bool FindDataFolderFrom(const std::string& programFolder, std::string& folder);

// FindDataFolderFrom the running program's own folder.
bool FindDataFolder(std::string& folder);

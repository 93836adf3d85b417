#pragma once

#include <string>

// The program folder: the folder of the running executable, with a trailing
// '/'. Templates, the help file and the welcome page are read from there.
std::string GetProgramDir();

// The folder the page files ("load.htm", "result.htm") are written to, with a
// trailing '/': the program folder when a file can be created in it, otherwise
// the per-user data folder $XDG_DATA_HOME/veilmark/ (default
// ~/.local/share/veilmark/), which is created when missing.
std::string ChoosePageFolder(const std::string& programDir);

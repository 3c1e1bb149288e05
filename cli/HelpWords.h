#pragma once
// How the help texts name a port and the user's folders: as the users of each system know
// them. String literals, so that they join the texts they stand in.

#ifdef _WIN32
#define Q40_PORT_EXAMPLE "COM3"
#define Q40_LEDGER_VARIABLE "%Q40PROG_LEDGER%"
#define Q40_CONFIG_FILE "%APPDATA%\\KARDO\\Q40Prog.conf"
#define Q40_CONFIG_FILE_WHERE Q40_CONFIG_FILE
#define Q40_DATA_FOLDER_WHERE "(%LOCALAPPDATA%\\KARDO\\\nQ40Prog)"
#define Q40_DATA_FOLDER_SHOWN "%LOCALAPPDATA%\\KARDO\\Q40Prog"
#define Q40_DATA_FOLDER_LISTED Q40_DATA_FOLDER_SHOWN
#else
#define Q40_PORT_EXAMPLE "ttyUSB0"
#define Q40_LEDGER_VARIABLE "$Q40PROG_LEDGER"
#define Q40_CONFIG_FILE "$XDG_CONFIG_HOME/KARDO/Q40Prog.conf"
#define Q40_CONFIG_FILE_WHERE Q40_CONFIG_FILE " (~/.config/...)"
#define Q40_DATA_FOLDER_WHERE "($XDG_DATA_HOME/KARDO/\nQ40Prog, ~/.local/share/...)"
#define Q40_DATA_FOLDER_SHOWN "$XDG_DATA_HOME/KARDO/Q40Prog (~/.local/share/...)"
#define Q40_DATA_FOLDER_LISTED "$XDG_DATA_HOME/KARDO/Q40Prog, ~/.local/share/..."
#endif

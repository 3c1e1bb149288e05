#pragma once
// Where the catalogue and its files lie: the catalogue beside the program, named after it
// with the extension ".INI"; the folders Firmware/ and Images/ beside it.

#include <optional>
#include <string>

constexpr char CatalogueExtension[] = ".INI";
constexpr char FirmwareFolderName[] = "Firmware";
constexpr char ImagesFolderName[] = "Images";
// The desktop program's catalogue, which the command line looks for beside itself.
constexpr char DefaultCatalogueName[] = "Q40Prog.INI";

struct CatalogueLocation {
    std::string CatalogueFile;
    std::string ProgramFolder;  // holds Firmware/ and Images/
};

// The program's path with its extension replaced by ".INI", or ".INI" appended when the
// file name has none: /opt/q40/Q40Prog -> /opt/q40/Q40Prog.INI.
std::string CataloguePathFor(const std::string& executablePath);
// The folder part of a path; "." for a bare file name.
std::string FolderOf(const std::string& path);
// This process's executable, from /proc/self/exe; empty when it cannot be told.
std::string OwnExecutablePath();

// The desktop program's catalogue and folders.
CatalogueLocation LocationOfProgram(const std::string& executablePath);
// A catalogue named on the command line; its folder holds Firmware/ and Images/.
CatalogueLocation LocationOfFile(const std::string& catalogueFile);
// The command line's choice: the named file, else Q40Prog.INI beside the executable.
CatalogueLocation LocateCatalogue(const std::optional<std::string>& catalogueFile,
                                  const std::string& executablePath);

// programFolder/Firmware/value and programFolder/Images/value. Values written on Windows
// may use "\" between folders; it becomes "/".
std::string FirmwarePath(const std::string& programFolder, const std::string& firmwareValue);
std::string ImagePath(const std::string& programFolder, const std::string& imageValue);

// True when a file (not a folder) exists at path.
bool IsExistingFile(const std::string& path);

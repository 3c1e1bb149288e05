#include "catalogue/CatalogueLocation.h"

#include <algorithm>

namespace {
std::string InFolder(const std::string& folder, const char* subfolder, std::string value) {
    std::replace(value.begin(), value.end(), '\\', '/');
    return folder + "/" + subfolder + "/" + value;
}
}  // namespace

std::string CataloguePathFor(const std::string& executablePath) {
    const auto slash = executablePath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = executablePath.rfind('.');
    // A dot that leads the name (a hidden file) starts no extension.
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return executablePath.substr(0, hasExtension ? dot : std::string::npos) + CatalogueExtension;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

CatalogueLocation LocationOfProgram(const std::string& executablePath) {
    return {CataloguePathFor(executablePath), FolderOf(executablePath)};
}

CatalogueLocation LocationOfFile(const std::string& catalogueFile) {
    return {catalogueFile, FolderOf(catalogueFile)};
}

CatalogueLocation LocateCatalogue(const std::optional<std::string>& catalogueFile,
                                  const std::string& executablePath) {
    if (catalogueFile) return LocationOfFile(*catalogueFile);
    const std::string folder = FolderOf(executablePath);
    return {folder + "/" + DefaultCatalogueName, folder};
}

std::string FirmwarePath(const std::string& programFolder, const std::string& firmwareValue) {
    return InFolder(programFolder, FirmwareFolderName, firmwareValue);
}

std::string ImagePath(const std::string& programFolder, const std::string& imageValue) {
    return InFolder(programFolder, ImagesFolderName, imageValue);
}

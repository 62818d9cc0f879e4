#pragma once
// The release manifest: an INI file that names every field of a package and the files that fill
// its slots (paths relative to the manifest).

#include "tools/pack/package_contents.h"

#include <string>
#include <vector>

struct TManifest {
    TPackageContents Contents;
    std::vector<std::string> InputFiles; // the manifest and every file it names
    std::vector<std::string> Warnings;
};

// Reads and checks the whole manifest. Raises Exception naming the file and the field at fault.
TManifest ReadManifest(const std::string& path);

// Loads the component library at run time and hands out its factory. Nothing of the component
// is linked into the program: it is reached only through the exported GetVelFactory and the
// host's abstract interfaces.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "IVelAlgorithm.h"

namespace knncli {

inline constexpr const char* kComponentFileName = "libknn800.so";

class ComponentLibrary {
public:
    // Loads `path`, or with an empty path the first default location that exists. Throws
    // CliError(kExitLibrary) when no library can be loaded or it has no factory.
    explicit ComponentLibrary(const std::string& path);
    ~ComponentLibrary();
    ComponentLibrary(const ComponentLibrary&) = delete;
    ComponentLibrary& operator=(const ComponentLibrary&) = delete;

    VelCommon_940::IVelFactory& Factory() { return *factory_; }
    const std::string& Path() const { return path_; }

    // Where the library is looked for: the installation's library directory beside the
    // program's directory (../lib), then the program's own directory.
    static std::vector<std::string> DefaultLocations();

private:
    std::string path_;
    void* handle_ = nullptr;
    std::unique_ptr<VelCommon_940::IVelFactory> factory_;
};

// Directory of the running program, without a trailing separator.
std::string ProgramDirectory();

}  // namespace knncli

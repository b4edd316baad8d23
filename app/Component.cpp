#include "Component.h"

#include <dlfcn.h>

#include <filesystem>

#include "Errors.h"

namespace knncli {

std::string ProgramDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::vector<std::string> ComponentLibrary::DefaultLocations() {
    const std::filesystem::path directory = ProgramDirectory();
    return {(directory.parent_path() / "lib" / kComponentFileName).string(),
            (directory / kComponentFileName).string()};
}

ComponentLibrary::ComponentLibrary(const std::string& path) : path_(path) {
    if (path_.empty()) {
        const std::vector<std::string> locations = DefaultLocations();
        for (const std::string& location : locations) {
            if (std::filesystem::exists(location)) {
                path_ = location;
                break;
            }
        }
        if (path_.empty()) {
            throw CliError(kExitLibrary, std::string("cannot find the component library ") +
                                             kComponentFileName + " (looked for " + locations[0] +
                                             " and " + locations[1] +
                                             "); name it with --library PATH");
        }
    }
    // A path without a slash would make the loader search the system's directories.
    const std::string loadPath = path_.find('/') == std::string::npos ? "./" + path_ : path_;
    handle_ = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw CliError(kExitLibrary, "cannot load the component library " + path_ + ": " +
                                         (reason != nullptr ? reason : "unknown reason"));
    }
    dlerror();
    auto entry =
        reinterpret_cast<VelCommon_940::GetVelFactoryFunction>(dlsym(handle_, "GetVelFactory"));
    if (entry == nullptr) {
        dlclose(handle_);
        throw CliError(kExitLibrary, path_ +
                                         " has no GetVelFactory; it is not a component "
                                         "library");
    }
    factory_.reset(entry());
    if (factory_ == nullptr) {
        dlclose(handle_);
        throw CliError(kExitLibrary, "the component library " + path_ + " gave no factory");
    }
}

ComponentLibrary::~ComponentLibrary() {
    // The factory's code lives in the library, so it goes first.
    factory_.reset();
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

}  // namespace knncli

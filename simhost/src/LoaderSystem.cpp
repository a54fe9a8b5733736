#include "simhost/LoaderSystem.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace simhost {

namespace {

class ProcessCalls final : public LoaderSystem {
public:
    void* openLibrary(const char* path, int flags) override { return ::dlopen(path, flags); }
    void* findSymbol(void* library, const char* name) override { return ::dlsym(library, name); }
    int closeLibrary(void* library) override { return ::dlclose(library); }
    const char* libraryError() override { return ::dlerror(); }
    int openFile(const char* path, int flags) override { return ::open(path, flags); }
    ssize_t readFile(int fd, void* buffer, std::size_t size) override { return ::read(fd, buffer, size); }
    int closeFile(int fd) override { return ::close(fd); }
};

}  // namespace

LoaderSystem& LoaderSystem::real() {
    // Built before the first host that uses it, so destroyed after it.
    static ProcessCalls calls;
    return calls;
}

}  // namespace simhost

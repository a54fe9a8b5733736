// The system calls the plug-in loader makes, behind one small interface so
// that a test can fail any of them. Each member behaves as the call it
// stands for: dlopen, dlsym, dlclose and dlerror; open, read and close.
// A failure is a null pointer or -1 with errno set, as theirs is.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace simhost {

class LoaderSystem {
public:
    virtual ~LoaderSystem() = default;

    virtual void* openLibrary(const char* path, int flags) = 0;
    virtual void* findSymbol(void* library, const char* name) = 0;
    virtual int closeLibrary(void* library) = 0;
    // What the last library call that failed went wrong with; may be null.
    virtual const char* libraryError() = 0;

    virtual int openFile(const char* path, int flags) = 0;
    virtual ssize_t readFile(int fd, void* buffer, std::size_t size) = 0;
    virtual int closeFile(int fd) = 0;

    // The process's own calls; the loader's default.
    static LoaderSystem& real();
};

}  // namespace simhost

// The loader against failing system calls. Each call it makes fails in turn;
// a load must then end in an error that names the file and the cause, keep
// nothing of the plug-in (no library, no descriptor), and leave the host as
// usable as before. Interrupted calls are made again and change nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "simhost/Host.h"
#include "simhost/LoaderSystem.h"
#include "simhost/Plugins.h"
#include "simhost/Resources.h"

using namespace simhost;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

enum class Call { kOpenLibrary, kFindSymbol, kCloseLibrary, kOpenFile, kReadFile, kCloseFile };

// The `nth` call of `call` fails with `error` (a planted dlerror text for the
// library calls), and so do the `times - 1` calls after it. For a read, nth 0
// is the read that would find the end of the file.
struct Fault { Call call; int nth; int error; int times = 1; };

// The process's own calls with one fault planted, counting what is open.
class FaultySystem final : public LoaderSystem {
public:
    explicit FaultySystem(std::optional<Fault> fault) : fault_(fault) {}
    void clearFault() { fault_.reset(); }
    int openLibraries() const { return libraries_; }
    std::size_t openFiles() const { return files_.size(); }

    void* openLibrary(const char* path, int flags) override {
        if (fails(Call::kOpenLibrary)) return nullptr;
        void* library = real_.openLibrary(path, flags);
        if (library != nullptr) ++libraries_;
        return library;
    }
    void* findSymbol(void* library, const char* name) override {
        return fails(Call::kFindSymbol) ? nullptr : real_.findSymbol(library, name);
    }
    // A failed dlclose closes nothing.
    int closeLibrary(void* library) override {
        if (fails(Call::kCloseLibrary)) return -1;
        const int result = real_.closeLibrary(library);
        if (result == 0) --libraries_;
        return result;
    }
    const char* libraryError() override { return planted_ ? "planted failure" : real_.libraryError(); }

    int openFile(const char* path, int flags) override {
        if (fails(Call::kOpenFile)) return -1;
        const int fd = real_.openFile(path, flags);
        if (fd >= 0) files_.insert(fd);
        return fd;
    }
    ssize_t readFile(int fd, void* buffer, std::size_t size) override {
        if (fails(Call::kReadFile)) return -1;
        const ssize_t n = real_.readFile(fd, buffer, size);
        if (n == 0 && failsAtEnd()) return -1;
        return n;
    }
    // As on Linux, the descriptor is gone even when close fails.
    int closeFile(int fd) override {
        files_.erase(fd);
        const int result = real_.closeFile(fd);
        return fails(Call::kCloseFile) ? -1 : result;
    }

private:
    bool fires(int n) const { return n >= fault_->nth && n < fault_->nth + fault_->times; }
    bool fails(Call call) {
        const int n = ++calls_[call];
        planted_ = false;
        if (!fault_ || fault_->call != call || fault_->nth == 0 || !fires(n)) return false;
        errno = fault_->error;
        planted_ = true;
        return true;
    }
    bool failsAtEnd() {
        if (!fault_ || fault_->call != Call::kReadFile || fault_->nth != 0 || ends_++ >= fault_->times) return false;
        errno = fault_->error;
        return true;
    }

    LoaderSystem& real_ = LoaderSystem::real();
    std::optional<Fault> fault_;
    std::map<Call, int> calls_;
    int ends_ = 0;
    bool planted_ = false;
    int libraries_ = 0;
    std::set<int> files_;
};

const std::string kLibrary = WENDLOW_PLUGIN_PATH;
const std::string kResourceFile = kLibrary.substr(0, kLibrary.rfind('.')) + ".resources.json";

enum class Step { kLoad, kUnload };
enum class Named { kNothing, kLibrary, kResourceFile };

struct Row {
    const char* name;
    Fault fault;
    Step step;
    Named named;         // the file the error names; kNothing: no error
    const char* cause;   // what the error says went wrong
    bool resources = true;  // after a load that succeeds: whether they came
};

const Row kRows[] = {
    {"no resource file", {Call::kOpenFile, 1, ENOENT}, Step::kLoad, Named::kNothing, "", false},
    {"resource file not readable", {Call::kOpenFile, 1, EACCES}, Step::kLoad, Named::kResourceFile,
     ": cannot open the resource file: Permission denied"},
    {"open interrupted", {Call::kOpenFile, 1, EINTR, 3}, Step::kLoad, Named::kNothing, ""},
    {"first read fails", {Call::kReadFile, 1, EIO}, Step::kLoad, Named::kResourceFile,
     ": cannot read the resource file: Input/output error"},
    {"read at the end fails", {Call::kReadFile, 0, EIO}, Step::kLoad, Named::kResourceFile,
     ": cannot read the resource file: Input/output error"},
    {"reads interrupted", {Call::kReadFile, 1, EINTR, 3}, Step::kLoad, Named::kNothing, ""},
    {"read at the end interrupted", {Call::kReadFile, 0, EINTR, 2}, Step::kLoad, Named::kNothing, ""},
    {"close fails", {Call::kCloseFile, 1, EIO}, Step::kLoad, Named::kResourceFile,
     ": cannot close the resource file: Input/output error"},
    {"dlopen fails", {Call::kOpenLibrary, 1, 0}, Step::kLoad, Named::kLibrary, ": planted failure"},
    {"dlsym finds no entry point", {Call::kFindSymbol, 1, 0}, Step::kLoad, Named::kLibrary,
     " does not export PluginMain"},
    {"dlclose fails on unload", {Call::kCloseLibrary, 1, 0}, Step::kUnload, Named::kLibrary,
     ": planted failure"},
};

TEST(HostLoader, EachFailingSystemCallIsReportedAndLeavesNothingBehind) {
    const auto realLists = Resources::load(kResourceFile).stringLists();
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        FaultySystem system(row.fault);
        {
            Host host(system);
            std::optional<std::string> error;
            PluginId loaded = -1;
            try {
                loaded = host.loadPlugin(kLibrary);  // the unload row's fault is in no load
                if (row.step == Step::kUnload) host.unloadLibrary(loaded);
            } catch (const std::runtime_error& e) {
                error = e.what();
            }
            EXPECT_EQ(system.openFiles(), 0u);
            if (row.named == Named::kNothing) {
                EXPECT_EQ(error.value_or(""), "");
                if (!error) {
                    EXPECT_EQ(host.plugin(loaded).resources.stringLists(),
                              row.resources ? realLists : decltype(realLists){});
                }
            } else {
                const std::string& file = row.named == Named::kLibrary ? kLibrary : kResourceFile;
                EXPECT_THAT(error.value_or("no error"), HasSubstr(file + row.cause));
            }
            // A failed load holds nothing; a library that could not be closed
            // stays loaded, and usable.
            const bool holds = row.named == Named::kNothing || row.step == Step::kUnload;
            EXPECT_EQ(host.pluginCount(), holds ? 1u : 0u);
            EXPECT_EQ(system.openLibraries(), holds ? 1 : 0);

            system.clearFault();
            const PluginId again = row.step == Step::kUnload ? loaded : host.loadPlugin(kLibrary);
            EXPECT_EQ(host.startup(again), kNoErr);
            EXPECT_EQ(host.shutdown(again), kNoErr);
            EXPECT_THAT(host.problems(), IsEmpty());
        }
        EXPECT_EQ(system.openLibraries(), 0);
        EXPECT_EQ(system.openFiles(), 0u);
    }
}

}  // namespace

// The POSIX platform part on the real file system: what the command line
// relies on when it reads inputs, writes outputs and opens packages.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/landlock.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "ExistingFile.h"
#include "FaultGuard.h"
#include "InputFile.h"
#include "OutputFile.h"
#include "PackageReader.h"
#include "Paths.h"
#include "ReaderProcess.h"
#include "ToolError.h"
#include "ToolPlatform.h"

namespace {

class PosixTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brumlet-posix-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
        startFolder = here;
        ReaderProcess::useProgram(POSIX_TEST_READER);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(startFolder.c_str()), 0);
        ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    static void writeFile(const std::string& file, const std::string& content) {
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::string readFile(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> names() const {
        std::string listing;
        FILE* ls = popen(("ls -A '" + dir + "'").c_str(), "r");
        char buffer[256];
        while (ls && fgets(buffer, sizeof(buffer), ls)) {
            listing += buffer;
        }
        if (ls) {
            pclose(ls);
        }
        std::vector<std::string> result;
        for (std::size_t start = 0, end; (end = listing.find('\n', start)) != std::string::npos;
             start = end + 1) {
            result.push_back(listing.substr(start, end - start));
        }
        return result;
    }

    template <class Body>
    static std::string errorOf(Body body) {
        try {
            body();
        } catch (const ToolError& e) {
            return e.what();
        }
        return "<no error>";
    }

    std::string dir;
    std::string startFolder;
};

TEST_F(PosixTest, InputFileRefusesWhatItCannotMapWithOneLineNamingThePath) {
    writeFile(path("plain"), "x");
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
    const struct {
        std::string name;
        std::string expected;
    } cases[] = {
        {"missing.msi", "package '" + path("missing.msi") + "' does not exist"},
        {"plain/below", "package '" + path("plain/below") + "' does not exist"},
        {"folder", "package '" + path("folder") + "' is a folder, not a file"},
        // Must not wait for a writer that never comes.
        {"pipe", "cannot read package '" + path("pipe") + "': not a regular file"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf([&] { InputFile(path(c.name), "package"); }), c.expected) << c.name;
    }
}

TEST_F(PosixTest, InputFileMapsTheWholeFileAndAnEmptyOneAsNothing) {
    const std::string content = std::string("MZ\0\x01", 4) + std::string(100000, 'q') + "end";
    writeFile(path("data"), content);
    writeFile(path("empty"), "");
    const InputFile data(path("data"), "stub");
    ASSERT_EQ(data.size(), content.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data()), data.size()), content);
    EXPECT_EQ(data.path(), path("data"));
    const InputFile empty(path("empty"), "stub");
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.data(), nullptr);
}

TEST_F(PosixTest, OutputFileReplacesTheTargetOnlyOnCommitKeepingItsModeButNotSetuid) {
    writeFile(path("setup.exe"), "old");
    ASSERT_EQ(chmod(path("setup.exe").c_str(), 06750), 0);
    {
        OutputFile out(path("setup.exe"));
        out.append("0123456789", 10);
        out.patch(2, "ab", 2);
        out.append("", 0);
        EXPECT_EQ(out.size(), 10u);
        EXPECT_EQ(names(), std::vector<std::string>{"setup.exe"}) << "a name before the commit";
        EXPECT_EQ(readFile(path("setup.exe")), "old");
        out.commit();
    }
    EXPECT_EQ(readFile(path("setup.exe")), "01ab456789");
    EXPECT_EQ(names(), std::vector<std::string>{"setup.exe"});
    struct stat info;
    ASSERT_EQ(stat(path("setup.exe").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
}

// A device, pipe or socket at the output's path is never replaced, with the
// command line's check or at the commit when one appeared since.
TEST_F(PosixTest, OutputsNeverReplaceWhatIsNotAFile) {
    writeFile(path("file"), "f");
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink(path("pipe").c_str(), path("to-pipe").c_str()), 0);
    std::vector<std::string> special{"pipe", "to-pipe"};
    if (geteuid() == 0) {
        ASSERT_EQ(mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        special.push_back("null");
    } else {
        std::cout << "not root: no device node of the test's own to write onto\n";
    }
    for (const std::string& name : special) {
        EXPECT_TRUE(ExistingFile::isSpecial(path(name))) << name;
        OutputFile out(path(name));
        out.append("bytes", 5);
        EXPECT_EQ(errorOf([&] { out.commit(); }),
                  "output '" + path(name) +
                      "' is not a file but a folder, device, pipe or socket; choose another name");
    }
    for (const std::string& name : {"file", "missing", "."}) {
        EXPECT_FALSE(ExistingFile::isSpecial(path(name))) << name;
    }
    struct stat info;
    ASSERT_EQ(stat(path("pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    if (geteuid() == 0) {
        ASSERT_EQ(stat(path("null").c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
}

// What the checks read is what the library reads and what is written, even
// when another file takes the path after it was opened.
TEST_F(PosixTest, AnInputIsTheFileOpenedWhateverTakesItsPathLater) {
    writeFile(path("pkg.msi"), readFile(POSIX_TEST_TOOL_MSI));
    writeFile(path("other.msi"), readFile(POSIX_TEST_HELLO_MSI));
    const InputFile package(path("pkg.msi"), "package");
    ASSERT_EQ(rename(path("other.msi").c_str(), path("pkg.msi").c_str()), 0);
    EXPECT_EQ(PackageReader::read(package, "package").productCode, POSIX_TEST_CODE);
    EXPECT_EQ(PackageReader::read(package, 0, package.size(), "the package").productCode,
              POSIX_TEST_CODE);
    OutputFile out(path("copy.msi"));
    out.copiesFrom(package);
    out.append(package.data(), static_cast<std::size_t>(package.size()));
    EXPECT_EQ(PackageReader::read(out, "the copy").productCode, POSIX_TEST_CODE);
    out.commit();
    EXPECT_EQ(readFile(path("copy.msi")), readFile(POSIX_TEST_TOOL_MSI));
}

// Bytes changed in place or added: the output made of them is not put in
// place, and the library's answer is not taken. A rename or new permissions
// leave the bytes as they were.
TEST_F(PosixTest, AnInputChangedWhileReadStopsTheOutputAndTheReader) {
    const std::string original = readFile(POSIX_TEST_TOOL_MSI);
    const struct {
        const char* what;
        bool changes;
    } cases[] = {{"in place", true}, {"appended", true}, {"renamed", false}, {"chmod", false}};
    for (const auto& c : cases) {
        const std::string what = c.what;
        writeFile(path("pkg.msi"), original);
        // Written long ago: a write now has another modification time.
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path("pkg.msi").c_str(), old, 0), 0);
        const InputFile package(path("pkg.msi"), "package");
        OutputFile out(path("setup.exe"));
        out.append(package.data(), 4096);
        if (what == "renamed") {
            ASSERT_EQ(rename(path("pkg.msi").c_str(), path("moved.msi").c_str()), 0);
            ASSERT_EQ(rename(path("moved.msi").c_str(), path("pkg.msi").c_str()), 0);
        } else if (what == "chmod") {
            ASSERT_EQ(chmod(path("pkg.msi").c_str(), 0400), 0);
        } else {
            const int fd =
                open(path("pkg.msi").c_str(), O_WRONLY | (what == "appended" ? O_APPEND : 0));
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, "XY", 2), 2);
            close(fd);
        }
        const std::string expected =
            c.changes ? "'" + path("pkg.msi") + "' changed while it was read" : "<no error>";
        EXPECT_EQ(errorOf([&] { PackageReader::read(package, "package"); }), expected) << what;
        EXPECT_EQ(errorOf([&] { out.commit(); }), expected) << what;
        const std::vector<std::string> left =
            c.changes ? std::vector<std::string>{"pkg.msi"}
                      : std::vector<std::string>{"pkg.msi", "setup.exe"};
        EXPECT_EQ(names(), left) << what;
        unlink(path("setup.exe").c_str());
    }
}

// A writer that ends early (an input cut short under its mapping, or a
// signal) leaves no output and no named temporary file (where the file
// system has no unnamed ones) but where nothing can: SIGKILL. A fault says
// why in one line; a signal ends the tool as it would have.
TEST_F(PosixTest, AWriterThatEndsEarlyLeavesNothing) {
    writeFile(path("pkg.msi"), std::string(3u << 20, 'p'));
    for (const int signal : {0, SIGKILL, SIGINT, SIGTERM, SIGHUP}) {
        const bool shrink = signal == 0;
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(pipeEnds[1], STDERR_FILENO);
            try {
                const InputFile package(path("pkg.msi"), "package");
                writeFile(path("named.tmp"), "left by a fallback");
                FaultGuard::removeOnFault(path("named.tmp"));
                OutputFile out(path("setup.exe"));
                out.append(package.data(), 1u << 20);
                if (!shrink) {
                    raise(signal);
                }
                // The kernel copies up to the new end, then cannot read the
                // mapping past it; this process faults there.
                out.copiesFrom(package);
                EXPECT_EQ(truncate(path("pkg.msi").c_str(), 1u << 20), 0);
                std::cerr << errorOf([&] {
                    out.append(package.data(), static_cast<std::size_t>(package.size()));
                }) << "\n";
                std::cerr << static_cast<int>(*(volatile const char*)(package.data() + (2u << 20)));
            } catch (const std::exception& e) {
                std::cerr << e.what();
            }
            _exit(3);
        }
        close(pipeEnds[1]);
        std::string said;
        char buffer[4096];
        for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof(buffer))) > 0;) {
            said.append(buffer, static_cast<std::size_t>(got));
        }
        close(pipeEnds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (shrink) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            const std::string line = "'" + path("pkg.msi") + "' changed while it was read\n";
            EXPECT_EQ(said, line + "brumlet: " + line);
            EXPECT_EQ(names(), std::vector<std::string>{"pkg.msi"});
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
            const std::vector<std::string> left =
                signal == SIGKILL ? std::vector<std::string>{"named.tmp", "pkg.msi"}
                                  : std::vector<std::string>{"pkg.msi"};
            EXPECT_EQ(names(), left) << signal;
            unlink(path("named.tmp").c_str());
        }
    }
}

// Bytes of a mapped source may be copied by the kernel from its file: the
// result must be the bytes appended, in place, also where the kernel cannot
// copy (from another file system, here a tmpfs when there is one).
TEST_F(PosixTest, OutputFileCopyingFromItsSourceWritesTheSameBytes) {
    std::string content(9u << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    std::vector<std::string> sources{path("source")};
    struct stat shm;
    struct stat here;
    if (stat("/dev/shm", &shm) == 0 && stat(dir.c_str(), &here) == 0 && shm.st_dev != here.st_dev) {
        sources.push_back("/dev/shm/brumlet-posix-test-" + std::to_string(getpid()));
    }
    for (const std::string& source : sources) {
        writeFile(source, content);
        {
            const InputFile input(source, "package");
            OutputFile out(path("setup.exe"));
            out.copiesFrom(input);
            const char* mapped = reinterpret_cast<const char*>(input.data());
            out.append("head", 4);
            out.append(mapped + 1001, (2u << 20) + 7);
            const std::string own(mapped, 16);  // the same bytes, not in the mapping
            out.append(own.data(), own.size());
            out.append(mapped, content.size());
            out.patch(1, "EA", 2);
            out.commit();
        }
        const std::string expected =
            "hEAd" + content.substr(1001, (2u << 20) + 7) + content.substr(0, 16) + content;
        EXPECT_TRUE(readFile(path("setup.exe")) == expected) << source;
        unlink(source.c_str());
    }
}

TEST_F(PosixTest, OutputFileLeftUncommittedLeavesTheOldFileAndNoSibling) {
    writeFile(path("setup.exe"), "old");
    {
        OutputFile out(path("setup.exe"));
        out.append("new bytes", 9);
    }
    {
        OutputFile out(path("fresh.exe"));
        out.append("new bytes", 9);
        // Past the end: refused, not written as a hole or beyond.
        EXPECT_NE(errorOf([&] { out.patch(8, "xy", 2); }), "<no error>");
    }
    EXPECT_EQ(readFile(path("setup.exe")), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"setup.exe"});
}

TEST_F(PosixTest, OutputFileInAMissingOrReadOnlyFolderIsRefusedNamingThePath) {
    EXPECT_EQ(errorOf([&] { OutputFile(path("none/setup.exe")); }),
              "cannot write '" + path("none/setup.exe") + "': No such file or directory");
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir(path("locked").c_str(), 0500), 0);
        EXPECT_EQ(errorOf([&] { OutputFile(path("locked/setup.exe")); }),
                  "cannot write '" + path("locked/setup.exe") + "': Permission denied");
    }
}

TEST_F(PosixTest, AbsolutePathsAreSpelledWithoutDotStepsAndKeepLinks) {
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a.msi", dir + "/a.msi"}, {"./sub/../b.msi", dir + "/b.msi"}, {"/x//y/./z/", "/x/y/z"},
        {"/../..", "/"},           {"link/../c.msi", dir + "/c.msi"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToolPlatform::absolutePath(c.in), c.out) << c.in;
    }
    EXPECT_EQ(Paths::folderOf("/a.msi"), "/");
    EXPECT_EQ(Paths::folderOf("/d/e/a.msi"), "/d/e");
}

TEST_F(PosixTest, SameFileSeesThroughLinksAndOtherSpellings) {
    writeFile(path("a"), "same");
    writeFile(path("b"), "same");
    ASSERT_EQ(link(path("a").c_str(), path("hard").c_str()), 0);
    ASSERT_EQ(symlink(path("a").c_str(), path("soft").c_str()), 0);
    EXPECT_TRUE(ToolPlatform::sameFile(path("a"), path("hard")));
    EXPECT_TRUE(ToolPlatform::sameFile(path("soft"), path("a")));
    EXPECT_TRUE(ToolPlatform::sameFile(dir + "/./x/../a", path("a")));
    EXPECT_FALSE(ToolPlatform::sameFile(path("a"), path("b")));
    EXPECT_FALSE(ToolPlatform::sameFile(path("a"), path("missing")));
    EXPECT_TRUE(ToolPlatform::isDirectory(dir));
    EXPECT_FALSE(ToolPlatform::isDirectory(path("a")));
    EXPECT_TRUE(ToolPlatform::exists(path("soft")));
}

TEST_F(PosixTest, PackageReaderReadsThePropertiesAndTheProductIcon) {
    const InputFile toolFile(POSIX_TEST_TOOL_MSI, "package");
    const PackageFacts tool = PackageReader::read(toolFile, "package");
    EXPECT_EQ(tool.productCode, POSIX_TEST_CODE);
    EXPECT_EQ(tool.productName, "Brumlet Tool Test");
    EXPECT_EQ(tool.productVersion, "2.3.4");
    EXPECT_EQ(tool.manufacturer, "Brumlet Testers");
    EXPECT_EQ(tool.iconName, "ToolIcon.ico");
    const std::string icon = readFile(POSIX_TEST_ICON);
    EXPECT_EQ(std::string(tool.icon.begin(), tool.icon.end()), icon);

    // The package inside a setup program: a range of the file.
    const PackageFacts held = PackageReader::read(toolFile, 0, toolFile.size(), "the package");
    EXPECT_EQ(held.productCode, tool.productCode);
    EXPECT_EQ(held.manufacturer, tool.manufacturer);
    EXPECT_EQ(held.icon, tool.icon);

    const PackageFacts hello =
        PackageReader::read(InputFile(POSIX_TEST_HELLO_MSI, "package"), "package");
    EXPECT_EQ(hello.productCode, "{D0AB6657-814E-4B30-AF5E-BB2ADCFE65DC}");
    EXPECT_EQ(hello.productName, "Brumlet Hello");
    EXPECT_TRUE(hello.iconName.empty());
    EXPECT_TRUE(hello.icon.empty());
}

// Each way to the library: the package itself, a range of a setup program
// (through a copy in TMPDIR) and an output not yet committed. Nothing stays.
TEST_F(PosixTest, PackageReaderRefusesAFileThatIsNoDatabaseAndLeavesNothing) {
    writeFile(path("text.msi"), std::string(8192, 't'));
    ASSERT_EQ(mkdir(path("tmp").c_str(), 0700), 0);
    const char* oldTmp = getenv("TMPDIR");
    const std::string kept = oldTmp ? oldTmp : "";
    setenv("TMPDIR", path("tmp").c_str(), 1);
    const InputFile text(path("text.msi"), "package");
    const std::string refused = "package 'text.msi' cannot be opened as an installer database: ";
    EXPECT_EQ(errorOf([&] { PackageReader::read(text, "package 'text.msi'"); }).rfind(refused, 0),
              0u);
    EXPECT_EQ(errorOf([&] {
                  PackageReader::read(text, 100, 4096, "package 'text.msi'");
              }).rfind(refused, 0),
              0u);
    {
        OutputFile out(path("out.msi"));
        out.append(text.data(), 4096);
        EXPECT_EQ(
            errorOf([&] { PackageReader::read(out, "package 'text.msi'"); }).rfind(refused, 0), 0u);
    }
    oldTmp ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(names(), (std::vector<std::string>{"text.msi", "tmp"}));
    EXPECT_EQ(system(("test -z \"$(ls -A '" + path("tmp") + "')\"").c_str()), 0);
}

// Whatever the reader does, the caller gets one line that says it truly
// (also when the tool was started with SIGCHLD ignored) and no child is
// left, neither running nor unreaped.
TEST_F(PosixTest, PackageReaderTurnsAFailingReaderIntoOneLineAndLeavesNoChild) {
    ReaderProcess::useProgram(POSIX_TEST_HOOK_READER);
    const InputFile tool(POSIX_TEST_TOOL_MSI, "package");
    const std::string start = "the installer library could not read 'x.msi' (";
    const std::string end = "): the package is damaged";
    const struct {
        const char* hook;
        bool ignoreChildren;
        std::string what;
    } cases[] = {
        {"crash", false, "it crashed with signal 11"},
        {"crash", true, "it crashed with signal 11"},
        {"spin", false, "it ran past 2 seconds of processor time"},
        {"hang", false, "it gave no answer in 4 seconds"},
        {"memory", false, "it ran out of memory"},
    };
    for (const auto& c : cases) {
        setenv("BRUMLET_READER_HOOK", c.hook, 1);
        signal(SIGCHLD, c.ignoreChildren ? SIG_IGN : SIG_DFL);
        EXPECT_EQ(errorOf([&] { PackageReader::read(tool, "package 'x.msi'"); }),
                  start + c.what + end);
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << c.hook;
        EXPECT_EQ(errno, ECHILD) << c.hook;
    }
    signal(SIGCHLD, SIG_DFL);
    unsetenv("BRUMLET_READER_HOOK");
}

// The reader gets the output to read, not to write, through its descriptor
// or (where the kernel has Landlock) by opening it again: what was checked
// is what is put in place.
TEST_F(PosixTest, AReaderCannotWriteTheOutputItReads) {
    ReaderProcess::useProgram(POSIX_TEST_HOOK_READER);
    const std::string original = readFile(POSIX_TEST_TOOL_MSI);
    std::vector<const char*> hooks{"write"};
    if (syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) > 0) {
        hooks.push_back("reopen");
    } else {
        std::cout << "no Landlock: a reader may open its package again for writing\n";
    }
    for (const char* hook : hooks) {
        setenv("BRUMLET_READER_HOOK", hook, 1);
        {
            OutputFile out(path("out.msi"));
            out.append(original.data(), original.size());
            EXPECT_EQ(PackageReader::read(out, "the output").productCode, POSIX_TEST_CODE) << hook;
            out.commit();
        }
        EXPECT_TRUE(readFile(path("out.msi")) == original) << hook;
    }
    unsetenv("BRUMLET_READER_HOOK");
}

}  // namespace

namespace {

// A reader that went away before the package was through is a failure with
// a reason, not a signal that ends the tool without one.
TEST(PosixOutput, StandardOutputToAClosedPipeFailsWithTheReason) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(ends[1], STDOUT_FILENO), STDOUT_FILENO);
    close(ends[1]);
    close(ends[0]);
    const std::vector<std::uint8_t> bytes(1 << 20, 0x5A);
    std::string message;
    try {
        ToolPlatform::writeOut(bytes.data(), bytes.size());
    } catch (const ToolError& e) {
        message = e.what();
    }
    EXPECT_FALSE(ToolPlatform::outputIsTerminal());
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_EQ(message, "cannot write to standard output: Broken pipe");
}

}  // namespace

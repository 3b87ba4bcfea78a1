// The program that runs the suite's test files: `glyphtack-tests test_zoom [Qt Test options]` runs
// the test class of tests/test_zoom.cpp (see TestFiles.h); without a known name it lists them.
#include "TestFiles.h"

#include <QByteArray>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, TestFileRun> &testFiles() {
    static std::map<std::string, TestFileRun> files;
    return files;
}

} // namespace

bool RegisterTestFile(const char *sourceFile, TestFileRun run) {
    std::string name = sourceFile;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    testFiles()[name] = run;
    return true;
}

int main(int argc, char *argv[]) {
    const auto found = argc > 1 ? testFiles().find(argv[1]) : testFiles().end();
    if (found == testFiles().end()) {
        std::fprintf(stderr, "usage: %s TEST_FILE [Qt Test options]\ntest files:", argv[0]);
        for (const auto &file : testFiles()) {
            std::fprintf(stderr, " %s", file.first.c_str());
        }
        std::fprintf(stderr, "\n");
        return 2;
    }
    // The test file runs as the program of its name did: its name is the program's name (Qt
    // takes the application's name from it), the options follow.
    QByteArray program = argv[0];
    const qsizetype slash = program.lastIndexOf('/');
    program = program.left(slash + 1) + QByteArray(argv[1]);
    std::vector<char *> arguments = {program.data()};
    for (int i = 2; i < argc; ++i) {
        arguments.push_back(argv[i]);
    }
    arguments.push_back(nullptr);
    return found->second(int(arguments.size()) - 1, arguments.data());
}

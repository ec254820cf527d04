// Runs the GUI test classes: all of them, or the one named by the first argument (the rest of
// the arguments go to QTest).
#include <QApplication>
#include <QTest>
#include <cstring>
#include <vector>

#include "app/ui/toolkit.h"
#include "gui_test_support.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    keltra::InitialiseToolkit();
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    std::vector<char*> args{argv[0]};
    for (int i = only != nullptr ? 2 : 1; i < argc; ++i) args.push_back(argv[i]);
    int failures = 0;
    bool ran = false;
    for (const auto& entry : keltra::test::GuiTestClasses()) {
        if (only != nullptr && std::strcmp(only, entry.name) != 0) continue;
        ran = true;
        auto test = entry.make();
        failures += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    return ran ? failures : 2;
}

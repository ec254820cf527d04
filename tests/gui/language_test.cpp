// The language table, INI reading and writing, message formats, and the shipped language files.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <set>
#include <string>

#include "app/ini_file.h"
#include "app/language_table.h"
#include "app/message_format.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

void WriteFile(const QString& path, const std::string& text) {
    std::ofstream(path.toStdString()) << text;
}

std::string ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
}

class LanguageTest : public QObject {
    Q_OBJECT

  private slots:
    void LinesSplitAtTheFirstEqualsSign() {
        QTemporaryDir dir;
        WriteFile(dir.filePath("config.ini"),
                  "[DefaultLanguage]\nDefault=Test\n[Languages]\nTest=Test=Language\nOther=O\n");
        QDir(dir.path()).mkdir("Languages");
        WriteFile(
            dir.filePath("Languages/Test.ini"),
            "[Messages]\nKEY=a=b\nEmpty=\nSpaced =  text with blanks  \n[messages]\nKEY=lower\n");
        CLanguageTable table({dir.filePath("config.ini").toStdString(),
                              dir.filePath("Languages").toStdString(), ""});
        QCOMPARE(table.CurrentLanguage(), std::string("Test"));
        const auto& messages = table.Section("Messages");
        QCOMPARE(Text(messages, "KEY"), std::string("a=b"));
        QCOMPARE(Text(messages, "Empty"), std::string());
        QCOMPARE(Text(messages, "Spaced"), std::string("text with blanks"));
        // Sections and keys are exact.
        QCOMPARE(Text(table.Section("messages"), "KEY"), std::string("lower"));
        QCOMPARE(Text(messages, "key"), std::string());
        QCOMPARE(table.Languages().size(), size_t(2));
        QCOMPARE(table.Languages()[0].first, std::string("Test"));
        QCOMPARE(table.Languages()[0].second, std::string("Test=Language"));
        QCOMPARE(table.Languages()[1].first, std::string("Other"));
    }

    void MissingFilesGiveEmptyTexts() {
        QTemporaryDir dir;
        CLanguageTable none({dir.filePath("config.ini").toStdString(),
                             dir.filePath("Languages").toStdString(), ""});
        QCOMPARE(none.CurrentLanguage(), std::string("English"));
        QVERIFY(none.Languages().empty());
        QVERIFY(none.Section("Messages").empty());
        QCOMPARE(Text(none.Section("Messages"), "MSG0505"), std::string());

        // A language named in config.ini whose file is missing, or that would leave the
        // languages folder.
        for (const char* name : {"Klingon", "../config"}) {
            WriteFile(dir.filePath("config.ini"),
                      std::string("[DefaultLanguage]\nDefault=") + name + "\n");
            CLanguageTable missing(
                {dir.filePath("config.ini").toStdString(), dir.path().toStdString(), ""});
            QVERIFY(missing.Section("DefaultLanguage").empty());
            QVERIFY(missing.Section("Messages").empty());
        }
    }

    void LanguageChoiceIsStored() {
        QTemporaryDir dir;
        const QString config = dir.filePath("config.ini");
        WriteFile(config,
                  "; the shipped settings\n[DefaultLanguage]\nDefault=English\n\n"
                  "[Languages]\nEnglish=English\nGerman=Deutsch\n");
        const QString user = dir.filePath("home/.config/keltra/config.ini");
        CLanguageTable table(
            {config.toStdString(), KELTRA_APP_DATA_DIR "/Languages", user.toStdString()});
        QCOMPARE(table.SetLanguage("German"), kOk);
        QCOMPARE(table.CurrentLanguage(), std::string("German"));
        QCOMPARE(Text(table.Section("MainWnd"), "BtnNext"), std::string("Weiter"));
        QCOMPARE(ReadFile(config),
                 std::string("; the shipped settings\n[DefaultLanguage]\nDefault=German\n\n"
                             "[Languages]\nEnglish=English\nGerman=Deutsch\n"));
        QVERIFY(!QFile::exists(user));

        // A program folder that cannot be written: the choice goes to the user's own file,
        // which from then on wins.
        const QString unwritable = dir.filePath("missing-folder/config.ini");
        CLanguageTable shipped(
            {unwritable.toStdString(), KELTRA_APP_DATA_DIR "/Languages", user.toStdString()});
        QCOMPARE(shipped.SetLanguage("German"), kOk);
        QCOMPARE(shipped.CurrentLanguage(), std::string("German"));
        QCOMPARE(ReadFile(user), std::string("[DefaultLanguage]\nDefault=German\n"));
        CLanguageTable both(
            {config.toStdString(), KELTRA_APP_DATA_DIR "/Languages", user.toStdString()});
        QCOMPARE(both.SetLanguage("English"), kOk);
        QCOMPARE(both.CurrentLanguage(), std::string("English"));
        QCOMPARE(ReadFile(user), std::string("[DefaultLanguage]\nDefault=English\n"));
    }

    void IniValueIsAddedToItsSection() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.ini");
        WriteFile(path, "[One]\nx=1\n\n[Two]\ny=2\n");
        QCOMPARE(WriteIniValue(path.toStdString(), "One", "z", "3"), kOk);
        QCOMPARE(WriteIniValue(path.toStdString(), "Three", "w", "a=b"), kOk);
        QCOMPARE(ReadFile(path), std::string("[One]\nx=1\nz=3\n\n[Two]\ny=2\n[Three]\nw=a=b\n"));
    }

    void FormatsFillOnlyWhatTheyAreGiven() {
        QCOMPARE(FormatMessage("%s %d%%", {"Progress:", "42"}), QString("Progress: 42%"));
        QCOMPARE(FormatMessage("Processed %d of %d: %d ok, %d failed", {"3", "5", "2", "1"}),
                 QString("Processed 3 of 5: 2 ok, 1 failed"));
        QCOMPARE(FormatMessage("%s %I64u / %I64u", {"Sectors", "1", "2"}),
                 QString("Sectors 1 / 2"));
        QCOMPARE(FormatMessage("%d-%d %02d:%02d", {"2018", "3", "9", "5"}),
                 QString("2018-3 09:05"));
        // More conversions than arguments, and conversions that take no argument.
        QCOMPARE(FormatMessage("%s and %s %n %p 100%", {"one"}), QString("one and  %n %p 100%"));
    }

    // The shipped language files hold every key the program asks for, in both languages,
    // and every line is one the INI reader takes whole.
    void ShippedLanguagesAreComplete() {
        std::set<std::string> required;
        for (int key :
             {101, 102, 201,  202,  203,  204,  205,  206,  207,  208,  209,  210,  211, 212,
              213, 214, 216,  217,  218,  219,  220,  221,  222,  223,  224,  225,  226, 227,
              228, 229, 230,  231,  301,  302,  303,  304,  305,  306,  401,  402,  403, 404,
              405, 501, 502,  503,  504,  505,  601,  602,  701,  702,  703,  704,  705, 706,
              707, 708, 709,  801,  802,  803,  804,  805,  807,  808,  809,  901,  902, 903,
              904, 905, 1101, 1102, 1103, 1201, 1202, 1203, 1204, 1205, 1206, 1207, 1209}) {
            required.insert(QString("MSG%1").arg(key, 4, 10, QChar('0')).toStdString());
        }
        std::map<std::string, std::set<std::string>> english;
        for (const char* language : {"English", "German"}) {
            const std::string path =
                std::string(KELTRA_APP_DATA_DIR "/Languages/") + language + ".ini";
            std::ifstream in(path);
            for (std::string line; std::getline(in, line);) {
                QVERIFY2(line.size() < 200, line.c_str());
                QVERIFY2(line.find(" ;") == std::string::npos || line[0] == ';', line.c_str());
            }
            std::vector<IniEntry> entries;
            QVERIFY(ReadIniFile(path, entries));
            std::map<std::string, std::set<std::string>> keys;
            for (const auto& e : entries) {
                QVERIFY2(!e.value.empty(), e.key.c_str());
                keys[e.section].insert(e.key);
            }
            for (const auto& key : required) QVERIFY2(keys["Messages"].count(key), key.c_str());
            for (const char* section :
                 {"MainWnd", "MenuWnd", "MessageBox", "ScanWnd", "SearchProcessWnd",
                  "PreviewProcessWnd", "RecoverProcessWnd", "CreateImageWnd"}) {
                QVERIFY2(!keys[section].empty(), section);
            }
            if (english.empty()) {
                english = keys;
            } else {
                QVERIFY(keys == english);
            }
        }
    }
};

KELTRA_GUI_TEST("Language", LanguageTest);

}  // namespace
}  // namespace keltra

#include "language_test.moc"

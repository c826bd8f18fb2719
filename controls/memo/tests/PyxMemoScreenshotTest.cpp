// A screenshot of the SQL memo on a real X server: an Xvfb server of the test's own (on a free
// display, closed to other users by an xauth cookie) shows a memo widget with the SQL styler, a
// child process takes the window's pixels from the server, and the test checks the colours of
// keywords, numbers, strings, comments, the selection and the gutter in the picture. The picture
// stays in the build folder as a test artefact: artefacts/sql-memo.png beside this program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include "controls/memo/PyxMemoWidget.h"
#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"
#include "testsupport/TestFiles.h"

extern char** environ;

namespace ostra::test {
namespace {

const char* const kQuery =
    "{ Orders of the last year }\n"
    "SELECT o.OrderNo, o.Total * 1.2 AS Gross, \"Shipped\" AS State\n"
    "FROM Orders o\n"
    "WHERE o.Total > 100 AND o.Customer LIKE \"A%\"\n"
    "ORDER BY o.Total ' largest last";

// Starts `Argv` (a program on the PATH) and waits for it; its exit code, or -1.
int Run(const std::vector<std::string>& Argv) {
    std::vector<char*> args;
    for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An Xvfb server on a display it chooses itself; stopped on destruction.
class XvfbServer {
public:
    explicit XvfbServer(const std::string& Folder) : FAuthFile(Folder + "/Xauthority") {
        std::random_device random;
        char cookie[33];
        for (int i = 0; i < 16; ++i) snprintf(cookie + 2 * i, 3, "%02x", static_cast<unsigned>(random() & 0xFF));
        // The server takes every cookie of its file, whatever display the entry names.
        WriteAll(FAuthFile, "");
        if (Run({"xauth", "-q", "-f", FAuthFile, "add", ":0", ".", cookie}) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string displayFd = std::to_string(fds[1]);
        std::vector<std::string> argv = {"Xvfb", "-displayfd", displayFd, "-auth", FAuthFile,
                                         "-screen", "0", "640x400x24", "-nolisten", "tcp"};
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&FPid, "Xvfb", &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned != 0) {
            FPid = -1;
            close(fds[0]);
            return;
        }
        // The server writes its display number once it accepts clients.
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        char c;
        while (poll(&wait, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        FDisplay = ":" + number;
        if (Run({"xauth", "-q", "-f", FAuthFile, "add", FDisplay, ".", cookie}) != 0) FDisplay.clear();
    }
    ~XvfbServer() {
        if (FPid <= 0) return;
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
    // ":N", or "" when the server did not start.
    const std::string& Display() const { return FDisplay; }
    const std::string& AuthFile() const { return FAuthFile; }

private:
    std::string FAuthFile;
    std::string FDisplay;
    pid_t FPid = -1;
};

bool XvfbInstalled() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (access((std::string(dir) + "/Xvfb").c_str(), X_OK) == 0 &&
            access((std::string(dir) + "/xauth").c_str(), X_OK) == 0)
            return true;
    return false;
}

// The folder of this test program's artefacts.
std::filesystem::path ArtefactFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "artefacts";
}

// Runs in the child: shows the memo on the X server and saves the window's pixels to `Png`, and
// the geometry the checks need ("cell width, cell height, text left, text top") to `Png`.txt.
int TakeScreenshot(const std::string& Display, const std::string& AuthFile, const std::string& Png) {
    setenv("DISPLAY", Display.c_str(), 1);
    setenv("XAUTHORITY", AuthFile.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "PyxMemoScreenshotTest";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TPyxSQLMemoStyler styler(nullptr);
    TPyxMemoWidget widget;
    TPyxMemo& memo = widget.Memo();
    memo.SetSyntaxStyles(&styler);
    memo.SetGutterWidth(20);
    SetText(memo, kQuery);
    widget.resize(560, 140);
    widget.show();
    widget.activateWindow();
    if (!QTest::qWaitForWindowExposed(&widget)) return 2;
    QApplication::setActiveWindow(&widget);
    widget.setFocus();
    if (!QTest::qWaitForWindowActive(&widget) || !widget.hasFocus()) return 3;
    // "Orders" in the FROM line selected, the caret after it; no blinking.
    widget.SetCaretBlinkInterval(0);
    memo.SetCaretLine(2);
    memo.SetCaretColumn(5);
    memo.CollapseSelection();
    memo.SetCaretColumn(11);
    memo.ExtendSelection();
    widget.viewport()->repaint();
    QTest::qWait(300);
    const QPixmap shot = widget.screen()->grabWindow(widget.winId());
    if (shot.isNull() || !shot.save(QString::fromStdString(Png), "PNG")) return 4;
    const TRect text = memo.TextRect();
    std::ofstream(Png + ".txt") << memo.CellWidth() << ' ' << memo.CellHeight() << ' ' << text.Left << ' '
                                << text.Top;
    return 0;
}

// The picture with the geometry of its cells.
struct Picture {
    QImage Image;
    int CellWidth = 0, CellHeight = 0, Left = 0, Top = 0;
    // Columns From .. To - 1 of visible row Row.
    QRect Cells(int Row, int From, int To) const {
        return {Left + From * CellWidth, Top + 1 + Row * CellHeight, (To - From) * CellWidth, CellHeight};
    }
    // The pixels of `Area` in a shade of `Colour` on white: `Colour` itself, or mixed with white as
    // the smoothed edges of text are (at least a third of the colour).
    int Count(const QRect& Area, QColor Colour) const {
        const int c[3] = {Colour.red(), Colour.green(), Colour.blue()};
        const int k = std::max_element(c, c + 3, [](int a, int b) { return 255 - a < 255 - b; }) - c;
        int n = 0;
        for (int y = Area.top(); y <= Area.bottom(); ++y)
            for (int x = Area.left(); x <= Area.right(); ++x) {
                const QColor pixel = Image.pixelColor(x, y);
                const int p[3] = {pixel.red(), pixel.green(), pixel.blue()};
                const double t = c[k] == 255 ? 1.0 : (255.0 - p[k]) / (255.0 - c[k]);
                if (t < 0.33 || t > 1.05) continue;
                bool match = true;
                for (int i = 0; i < 3; ++i)
                    if (std::abs(p[i] - (255.0 - t * (255 - c[i]))) > 16) match = false;
                if (match) ++n;
            }
        return n;
    }
};

TEST(MemoScreenshot, SqlMemoShowsItsStylesOnAnXServer) {
    if (!XvfbInstalled()) GTEST_SKIP() << "Xvfb and xauth are not installed (make setup installs them)";
    TempDir folder;
    XvfbServer server(folder.Path());
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    std::filesystem::create_directories(ArtefactFolder());
    const std::string png = (ArtefactFolder() / "sql-memo.png").string();
    std::filesystem::remove(png);

    Child child([&](Child&) { return TakeScreenshot(server.Display(), server.AuthFile(), png); });
    ASSERT_EQ(child.Wait(), 0) << "the child could not show or grab the memo";

    Picture picture;
    ASSERT_TRUE(picture.Image.load(QString::fromStdString(png)));
    std::ifstream(png + ".txt") >> picture.CellWidth >> picture.CellHeight >> picture.Left >> picture.Top;
    ASSERT_GT(picture.CellWidth, 0);
    const QColor green(0, 128, 0), fuchsia(255, 0, 255), blue(0, 0, 255), navy(0, 0, 128), teal(0, 128, 128),
        white(255, 255, 255), black(0, 0, 0);

    // Row 0: a comment, navy.
    EXPECT_GT(picture.Count(picture.Cells(0, 2, 8), navy), 10);
    // Row 1: SELECT green, the number 1.2 fuchsia, the string "Shipped" blue, the symbols , and *
    // teal; the field names black.
    EXPECT_GT(picture.Count(picture.Cells(1, 0, 6), green), 10);
    EXPECT_GT(picture.Count(picture.Cells(1, 28, 31), fuchsia), 10);
    EXPECT_GT(picture.Count(picture.Cells(1, 42, 51), blue), 10);
    EXPECT_GT(picture.Count(picture.Cells(1, 16, 17), teal), 0);
    EXPECT_GT(picture.Count(picture.Cells(1, 26, 27), teal), 3);
    EXPECT_GT(picture.Count(picture.Cells(1, 9, 16), black), 10);
    EXPECT_EQ(picture.Count(picture.Cells(1, 9, 16), green), 0);
    // Row 3: the comparison > teal, 100 fuchsia.
    EXPECT_GT(picture.Count(picture.Cells(3, 14, 15), teal), 3);
    EXPECT_GT(picture.Count(picture.Cells(3, 16, 19), fuchsia), 10);
    // Row 2: FROM green, the selected "Orders" white on navy.
    EXPECT_GT(picture.Count(picture.Cells(2, 0, 4), green), 10);
    const QRect selected = picture.Cells(2, 5, 11);
    EXPECT_GT(picture.Count(selected, navy), selected.width() * selected.height() / 2);
    EXPECT_GT(picture.Count(selected, white), 10);
    // Row 4: the line comment after ORDER BY o.Total is navy to the end of its line.
    EXPECT_GT(picture.Count(picture.Cells(4, 19, 31), navy), 10);
    EXPECT_EQ(picture.Count(picture.Cells(4, 19, 31), green), 0);
}

}  // namespace
}  // namespace ostra::test

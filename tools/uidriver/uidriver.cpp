// The Wine UI driver: starts QorUpgrade.exe, finds its dialogs by title and
// by the controls and size of their templates, reads and drives them with
// window messages, and plays a scenario on them as a person would.
//
//   uidriver.exe [--shots DIR] [--device-checks FILE] SCENARIO PROGRAM.exe
//
// Exit status 0: the scenario passed; 1: it failed (the reason is printed);
// 2: bad arguments or an unreadable scenario.
#include "tools/scenario/player.h"
#include "tools/scenario/scenario.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using scenario::ProgressState;
using scenario::Window;

constexpr UINT kSendTimeoutMs = 2000;
constexpr int kMessageBoxTextId = 0xFFFF;

HWND AsHwnd(Window window) {
    return reinterpret_cast<HWND>(window);
}
Window AsWindow(HWND hwnd) {
    return reinterpret_cast<Window>(hwnd);
}

// What identifies a template on the screen: its control ids and its size.
struct TemplateShape {
    int id = 0;
    std::set<int> controls;  // ids other than 0xFFFF
    int width = 0;           // dialog units
    int height = 0;
    int clientWidth = 0;  // pixels, as the dialog manager lays it out here
    int clientHeight = 0;
};

// Reads a dialog template (the plain DLGTEMPLATE form, the only one the
// program uses) from the executable's resources.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : p_(data), end_(data + size) {}

    bool Read(TemplateShape* shape) {
        DWORD style = Dword();
        Dword();  // extended style
        int count = Word();
        Word();  // x
        Word();  // y
        shape->width = Word();
        shape->height = Word();
        SkipNameOrOrdinal();  // menu
        SkipNameOrOrdinal();  // class
        SkipString();         // title
        if (style & DS_SETFONT) {
            Word();
            SkipString();
        }
        for (int i = 0; i < count && ok_; ++i) {
            Align();
            Dword();  // style
            Dword();  // extended style
            for (int j = 0; j < 4; ++j) {
                Word();
            }
            int id = Word();
            SkipNameOrOrdinal();  // class
            SkipNameOrOrdinal();  // text
            int extra = Word();
            p_ += extra;
            if (id != kMessageBoxTextId) {
                shape->controls.insert(id);
            }
        }
        return ok_ && p_ <= end_;
    }

private:
    WORD Word() {
        if (p_ + 2 > end_) {
            ok_ = false;
            return 0;
        }
        WORD w = static_cast<WORD>(p_[0] | (p_[1] << 8));
        p_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    void SkipString() {
        while (ok_ && Word() != 0) {
        }
    }
    void SkipNameOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) {
            Word();
        } else if (first != 0) {
            SkipString();
        }
    }
    void Align() {
        while ((reinterpret_cast<uintptr_t>(p_) & 3) != 0) {
            ++p_;
        }
    }

    const BYTE* p_;
    const BYTE* end_;
    bool ok_ = true;
};

INT_PTR CALLBACK IdleDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// Dialog units become pixels through the template's font, which only a dialog
// of this process can tell: so the driver lays the template out itself, hidden.
bool MeasureTemplate(LPCDLGTEMPLATEA data, TemplateShape* shape) {
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), data, nullptr, IdleDialogProc, 0);
    if (dialog == nullptr) {
        return false;
    }
    RECT client;
    GetClientRect(dialog, &client);
    shape->clientWidth = client.right;
    shape->clientHeight = client.bottom;
    DestroyWindow(dialog);
    return true;
}

BOOL CALLBACK CollectDialogName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<int>*>(param)->push_back(static_cast<int>(reinterpret_cast<uintptr_t>(name)));
    }
    return TRUE;
}

bool LoadTemplateShapes(const char* program, std::vector<TemplateShape>* shapes) {
    HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        return false;
    }
    std::vector<int> ids;
    EnumResourceNamesA(module, RT_DIALOG, CollectDialogName, reinterpret_cast<LONG_PTR>(&ids));
    for (int id : ids) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG);
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
        TemplateShape shape;
        shape.id = id;
        if (data != nullptr && TemplateReader(data, SizeofResource(module, found)).Read(&shape) &&
            MeasureTemplate(reinterpret_cast<LPCDLGTEMPLATEA>(data), &shape)) {
            shapes->push_back(shape);
        }
    }
    FreeLibrary(module);
    return !shapes->empty();
}

std::string ClassOf(HWND hwnd) {
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
        return "";
    }
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &copied);
    return std::string(buffer.data());
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::vector<HWND> DirectChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

struct EnumContext {
    DWORD processId;
    std::vector<HWND>* windows;
};

BOOL CALLBACK CollectProgramWindow(HWND hwnd, LPARAM param) {
    auto* context = reinterpret_cast<EnumContext*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == context->processId && IsWindowVisible(hwnd) && ClassOf(hwnd) == "#32770") {
        context->windows->push_back(hwnd);
    }
    return TRUE;
}

// A screen made of the program's top-level dialogs, seen from outside.
class WineScreen : public scenario::Screen {
public:
    WineScreen(PROCESS_INFORMATION process, std::vector<TemplateShape> shapes, std::string shotDir)
        : process_(process), shapes_(std::move(shapes)), shotDir_(std::move(shotDir)) {
        watcher_ = std::thread([this] { Watch(); });
    }
    ~WineScreen() override {
        stop_ = true;
        watcher_.join();
    }

    std::vector<Window> ShownDialogs() override { return Shown(false); }
    std::vector<Window> ShownMessageBoxes() override { return Shown(true); }
    std::vector<int> DialogsSeen() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return seenOrder_;
    }
    bool IsShown(Window window) override { return IsWindow(AsHwnd(window)) && IsWindowVisible(AsHwnd(window)); }
    int TemplateId(Window dialog) override {
        int id = Identify(AsHwnd(dialog));
        NoteSeen(AsHwnd(dialog), id);
        return id;
    }
    std::string Title(Window window) override { return IsWindow(AsHwnd(window)) ? TextOf(AsHwnd(window)) : ""; }
    std::string MessageBoxText(Window box) override {
        HWND text = GetDlgItem(AsHwnd(box), kMessageBoxTextId);
        return text ? TextOf(text) : "";
    }
    bool HasItem(Window dialog, int id) override { return GetDlgItem(AsHwnd(dialog), id) != nullptr; }
    std::string ItemText(Window dialog, int id) override {
        HWND item = GetDlgItem(AsHwnd(dialog), id);
        return item ? TextOf(item) : "";
    }
    ProgressState ProgressOf(Window dialog, int id) override {
        HWND bar = GetDlgItem(AsHwnd(dialog), id);
        ProgressState state;
        if (bar != nullptr) {
            state.minimum = static_cast<long>(Send(bar, PBM_GETRANGE, TRUE, 0));
            state.maximum = static_cast<long>(Send(bar, PBM_GETRANGE, FALSE, 0));
            state.position = static_cast<long>(Send(bar, PBM_GETPOS, 0, 0));
        }
        return state;
    }
    std::vector<std::string> ListEntries(Window dialog, int id) override {
        HWND list = GetDlgItem(AsHwnd(dialog), id);
        std::vector<std::string> entries;
        LRESULT count = list ? Send(list, CB_GETCOUNT, 0, 0) : 0;
        // Wine hands CB_GETLBTEXT across processes in UTF-16 whatever the
        // caller's flavour, so the wide message is asked and converted here.
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t wide[256] = L"";
            char entry[512] = "";
            DWORD_PTR length = 0;
            SendMessageTimeoutW(list, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
            if (length < sizeof wide / sizeof wide[0]) {
                DWORD_PTR copied = 0;
                SendMessageTimeoutW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG,
                                    kSendTimeoutMs, &copied);
                WideCharToMultiByte(CP_ACP, 0, wide, -1, entry, sizeof entry, nullptr, nullptr);
            }
            entries.push_back(entry);
        }
        return entries;
    }
    int ListSelection(Window dialog, int id) override {
        HWND list = GetDlgItem(AsHwnd(dialog), id);
        return list ? static_cast<int>(Send(list, CB_GETCURSEL, 0, 0)) : -1;
    }
    int FocusedItem(Window dialog) override {
        HWND focus = FocusedWindow(AsHwnd(dialog));
        // The address control's fields are its own children: report the control.
        while (focus != nullptr && GetParent(focus) != AsHwnd(dialog)) {
            focus = GetParent(focus);
        }
        return focus ? GetDlgCtrlID(focus) : 0;
    }

    void TypeText(Window dialog, int id, const std::string& text) override {
        HWND item = GetDlgItem(AsHwnd(dialog), id);
        if (ClassOf(item) == WC_IPADDRESSA) {
            TypeAddress(item, text);
            return;
        }
        Send(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void PickEntry(Window dialog, int id, int index) override {
        HWND list = GetDlgItem(AsHwnd(dialog), id);
        Send(list, CB_SETCURSEL, index, 0);
        PostMessageA(AsHwnd(dialog), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // Posted, not sent: the program may open a modal window while it handles
    // the click, and the driver must stay free to see it.
    void PressButton(Window dialog, int id) override {
        HWND button = GetDlgItem(AsHwnd(dialog), id);
        PostMessageA(AsHwnd(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    void PressKey(Window dialog, bool enter) override {
        HWND target = FocusedWindow(AsHwnd(dialog));
        if (target == nullptr) {
            target = AsHwnd(dialog);
        }
        WPARAM key = enter ? VK_RETURN : VK_ESCAPE;
        PostMessageA(target, WM_KEYDOWN, key, 1);
        PostMessageA(target, WM_KEYUP, key, 0xC0000001);
    }
    void PressCloseBox(Window dialog) override { PostMessageA(AsHwnd(dialog), WM_SYSCOMMAND, SC_CLOSE, 0); }
    void AnswerMessageBox(Window box, int result) override {
        HWND button = GetDlgItem(AsHwnd(box), result);
        PostMessageA(AsHwnd(box), WM_COMMAND, MAKEWPARAM(result, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    bool Screenshot(Window window, const std::string& name, std::string* error) override;

    bool ProgramEnded(int* exitCode) override {
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
            return false;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        *exitCode = static_cast<int>(code);
        return true;
    }
    void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }

private:
    // Records every dialog as it appears, so that short-lived ones count in
    // the order of dialogs too.
    void Watch() {
        while (!stop_) {
            for (HWND hwnd : ProgramWindows()) {
                if (!WasSeen(hwnd)) {
                    NoteSeen(hwnd, Identify(hwnd));
                }
            }
            ::Sleep(1);
        }
    }

    bool WasSeen(HWND hwnd) {
        std::lock_guard<std::mutex> lock(mutex_);
        return SeenLocked(hwnd);
    }
    bool SeenLocked(HWND hwnd) const {
        return std::find(seenWindows_.begin(), seenWindows_.end(), hwnd) != seenWindows_.end();
    }

    // The first sighting of a dialog counts, by the watcher or by a step that
    // met it first while the watcher was kept from the processor.
    void NoteSeen(HWND hwnd, int id) {
        if (id < 0) {
            return;  // its controls are still being created
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (SeenLocked(hwnd)) {
            return;
        }
        seenWindows_.push_back(hwnd);
        if (id > 0) {
            seenOrder_.push_back(id);
        }
    }

    std::vector<HWND> ProgramWindows() {
        std::vector<HWND> windows;
        EnumContext context{process_.dwProcessId, &windows};
        EnumWindows(CollectProgramWindow, reinterpret_cast<LPARAM>(&context));
        return windows;
    }

    std::vector<Window> Shown(bool messageBoxes) {
        std::vector<Window> shown;
        std::vector<HWND> windows = ProgramWindows();
        // EnumWindows lists from the top of the z-order; oldest first reads better.
        std::reverse(windows.begin(), windows.end());
        for (HWND hwnd : windows) {
            int id = Identify(hwnd);
            if ((messageBoxes && id == 0) || (!messageBoxes && id > 0)) {
                shown.push_back(AsWindow(hwnd));
            }
        }
        return shown;
    }

    // The template whose controls and size the window has; 0 for a message
    // box; -1 for a window not yet complete.
    int Identify(HWND hwnd) {
        std::set<int> controls;
        for (HWND child : DirectChildren(hwnd)) {
            int id = GetDlgCtrlID(child);
            if (id != kMessageBoxTextId) {
                controls.insert(id);
            }
        }
        RECT client;
        if (!GetClientRect(hwnd, &client)) {
            return -1;
        }
        for (const TemplateShape& shape : shapes_) {
            if (shape.controls == controls && shape.clientWidth == client.right &&
                shape.clientHeight == client.bottom) {
                return shape.id;
            }
        }
        // A dialog grown to show more (the waiting dialog's hint) keeps its controls and width.
        for (const TemplateShape& shape : shapes_) {
            if (shape.controls == controls && shape.clientWidth == client.right && shape.clientHeight < client.bottom) {
                return shape.id;
            }
        }
        return GetDlgItem(hwnd, kMessageBoxTextId) != nullptr && GetDlgItem(hwnd, IDOK) != nullptr ? 0 : -1;
    }

    HWND FocusedWindow(HWND dialog) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    }

    // A valid dotted address goes in as a whole, as IPM_SETADDRESS does it;
    // anything else is typed field by field into the control's edit fields.
    void TypeAddress(HWND control, const std::string& text) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        char rest = 0;
        if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &rest) == 4 && a < 256 && b < 256 &&
            c < 256 && d < 256) {
            Send(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
            return;
        }
        std::vector<HWND> fields = DirectChildren(control);
        // Fields sit left to right; their z-order says nothing about that.
        std::sort(fields.begin(), fields.end(), [](HWND x, HWND y) {
            RECT rx, ry;
            GetWindowRect(x, &rx);
            GetWindowRect(y, &ry);
            return rx.left < ry.left;
        });
        size_t start = 0;
        for (HWND field : fields) {
            size_t dot = text.find('.', start);
            std::string part =
                start <= text.size() ? text.substr(start, dot == std::string::npos ? dot : dot - start) : std::string();
            Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(part.c_str()));
            start = dot == std::string::npos ? text.size() + 1 : dot + 1;
        }
    }

    PROCESS_INFORMATION process_;
    std::vector<TemplateShape> shapes_;
    std::string shotDir_;
    std::thread watcher_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<HWND> seenWindows_;
    std::vector<int> seenOrder_;
};

bool WriteBitmap(const std::string& path, HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // bottom-up, as BMP files keep it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    if (!GetDIBits(dc, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS)) {
        return false;
    }
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
              std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && ok;
}

// The window as the screen shows it: it is brought to the top, repainted,
// and copied from the screen, frame and caption included.
bool WineScreen::Screenshot(Window window, const std::string& name, std::string* error) {
    if (shotDir_.empty()) {
        return true;
    }
    HWND hwnd = AsHwnd(window);
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(300);
    RECT rect;
    if (!GetWindowRect(hwnd, &rect)) {
        *error = "the window is gone";
        return false;
    }
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    SelectObject(memory, old);
    std::string path = shotDir_ + "\\" + name + ".bmp";
    bool written = copied && WriteBitmap(path, memory, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!written) {
        *error = "cannot save " + path;
        return false;
    }
    std::printf("  shot %s.bmp (%dx%d)\n", name.c_str(), width, height);
    return true;
}

struct Options {
    std::string shotDir;
    std::string deviceChecks;
    std::string scenarioPath;
    std::string program;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        if (std::strcmp(argv[i], "--shots") == 0) {
            options->shotDir = argv[i + 1];
        } else if (std::strcmp(argv[i], "--device-checks") == 0) {
            options->deviceChecks = argv[i + 1];
        } else {
            return false;
        }
    }
    if (argc - i != 2) {
        return false;
    }
    options->scenarioPath = argv[i];
    options->program = argv[i + 1];
    return true;
}

// Wine starts a prefix's desktop for the first window it is asked for and
// gives it 10 s; a new prefix on a busy machine can take longer, and until
// the desktop is asked for again no window of this thread can be made.
bool WaitForDesktop() {
    constexpr int kDesktopTries = 60;
    for (int attempt = 0; attempt < kDesktopTries; ++attempt) {
        if (GetDesktopWindow() != nullptr) {
            return true;
        }
        Sleep(1000);
    }
    return false;
}

bool StartProgram(const std::string& program, PROCESS_INFORMATION* process) {
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          process) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: uidriver [--shots DIR] [--device-checks FILE] SCENARIO PROGRAM.exe\n");
        return 2;
    }
    scenario::Scenario played;
    std::string error;
    if (!scenario::LoadScenario(options.scenarioPath, &played, &error) ||
        (!options.deviceChecks.empty() && !scenario::WriteDeviceChecks(played, options.deviceChecks, &error))) {
        std::fprintf(stderr, "uidriver: %s\n", error.c_str());
        return 2;
    }
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&classes);
    if (!WaitForDesktop()) {
        std::fprintf(stderr, "uidriver: Wine's desktop did not come up within a minute\n");
        return 2;
    }
    std::vector<TemplateShape> shapes;
    if (!LoadTemplateShapes(options.program.c_str(), &shapes)) {
        std::fprintf(stderr, "uidriver: no dialog templates in %s\n", options.program.c_str());
        return 2;
    }
    if (!options.shotDir.empty()) {
        CreateDirectoryA(options.shotDir.c_str(), nullptr);
    }
    PROCESS_INFORMATION process = {};
    if (!StartProgram(options.program, &process)) {
        std::fprintf(stderr, "uidriver: cannot start %s (error %lu)\n", options.program.c_str(), GetLastError());
        return 2;
    }
    std::printf("scenario %s: %s\n", played.name.c_str(), options.scenarioPath.c_str());
    std::string failure;
    bool passed = false;
    {
        WineScreen screen(process, shapes, options.shotDir);
        passed = scenario::Player(&screen).Play(played, &failure);
    }
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
        std::printf("  the program still runs after the last step: stopped\n");
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!passed) {
        std::printf("FAIL %s: %s\n", played.name.c_str(), failure.c_str());
        return 1;
    }
    std::printf("PASS %s\n", played.name.c_str());
    return 0;
}

// A window made like the launcher's, for the screenshot test under Wine: dialog template 102 with
// the background picture, the three skinned buttons and both skinned bars (the file bar moved into
// view). It logs where its client area lies and every command its buttons send, and follows
// commands from a file that it carries out on a worker thread through the controls' slots, the
// way the patch worker drives them.
//
//     skin_window_check.exe <output directory>
//
// Commands (one per command.txt, which the window deletes after reading):
//     bars <percent>   both bars to <percent> through SetRange32 / SetPos on the slots
//     direct <percent> the total bar through the control object itself, from the worker thread
//     blink            enable the start button and start its blinking through its slot
//     quit             close the window
#include <windows.h>

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "res/ResourceIds.h"
#include "skin/SkinBitmap.h"
#include "skin/SkinButton.h"
#include "skin/SkinProgress.h"

namespace {

constexpr UINT_PTR kCommandPollTimer = 7;
constexpr int kClientWidth = 740, kClientHeight = 330;

class Log {
public:
    explicit Log(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}
    ~Log() {
        if (file_) std::fclose(file_);
    }
    void Line(const char* format, ...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) return;
        va_list args;
        va_start(args, format);
        std::vfprintf(file_, format, args);
        va_end(args);
        std::fputc('\n', file_);
        std::fflush(file_);
    }

private:
    std::mutex mutex_;
    std::FILE* file_;
};

struct TestWindow {
    std::string directory;
    std::unique_ptr<Log> log;
    HWND dialog = nullptr;
    qr::SkinProgress totalProgress, fileProgress;
    qr::SkinButton homeButton, startButton, closeButton;
};

TestWindow* g_window = nullptr;

void LogControl(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    RECT window{}, client{};
    GetWindowRect(control, &window);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&window), 2);
    GetClientRect(control, &client);
    g_window->log->Line("control %d window %ld %ld %ld %ld client %ld %ld", id, window.left,
                        window.top, window.right, window.bottom, client.right, client.bottom);
}

// What LoadSkinBitmap built for one resource: the palette's size, and whether its entries are the
// bitmap's colour table (for the pictures that have one) or the halftone palette's.
void LogPalette(int id) {
    qr::skin::BitmapHandle bitmap;
    qr::skin::PaletteHandle palette;
    const int result = qr::skin::LoadSkinBitmap(MAKEINTRESOURCEA(id), bitmap, palette);
    WORD entries = 0;
    if (palette) GetObjectW(palette.get(), sizeof entries, &entries);
    std::vector<PALETTEENTRY> got(entries);
    if (entries) GetPaletteEntries(palette.get(), 0, entries, got.data());

    std::vector<PALETTEENTRY> expected;
    DIBSECTION section{};
    if (bitmap) GetObjectW(bitmap.get(), sizeof section, &section);
    if (bitmap && GetObjectW(bitmap.get(), sizeof section, &section) == sizeof section &&
        section.dsBmih.biBitCount <= 8) {
        std::vector<RGBQUAD> table(256);
        HDC memory = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(memory, bitmap.get());
        UINT count = GetDIBColorTable(memory, 0, 256, table.data());
        SelectObject(memory, old);
        DeleteDC(memory);
        for (UINT i = 0; i < count; ++i)
            expected.push_back({table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0});
    } else if (bitmap) {
        HDC screen = GetDC(nullptr);
        HPALETTE halftone = CreateHalftonePalette(screen);
        ReleaseDC(nullptr, screen);
        WORD count = 0;
        GetObjectW(halftone, sizeof count, &count);
        expected.resize(count);
        GetPaletteEntries(halftone, 0, count, expected.data());
        DeleteObject(halftone);
    }
    bool same = got.size() == expected.size();
    for (size_t i = 0; same && i < got.size(); ++i)
        same = got[i].peRed == expected[i].peRed && got[i].peGreen == expected[i].peGreen &&
               got[i].peBlue == expected[i].peBlue && got[i].peFlags == 0;
    g_window->log->Line("palette %d result %d bitmap %d entries %u matches %d used %lu bits %u", id,
                        result, bitmap ? 1 : 0, entries, same ? 1 : 0,
                        static_cast<unsigned long>(section.dsBmih.biClrUsed),
                        static_cast<unsigned>(section.dsBmih.biBitCount));
}

// Client area of exactly 740 x 330, centred, measured from the frame the system really draws.
void SizeAndCentre(HWND dialog) {
    RECT outer{}, client{};
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    const int width = kClientWidth + (outer.right - outer.left) - client.right;
    const int height = kClientHeight + (outer.bottom - outer.top) - client.bottom;
    SetWindowPos(dialog, HWND_TOP, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_SHOWWINDOW);
}

void Initialise(HWND dialog) {
    TestWindow& w = *g_window;
    w.dialog = dialog;
    w.totalProgress.Attach(GetDlgItem(dialog, IDC_TOTAL_PROGRESS));
    w.fileProgress.Attach(GetDlgItem(dialog, IDC_FILE_PROGRESS));
    w.closeButton.Attach(GetDlgItem(dialog, IDC_CLOSE_BUTTON));
    w.startButton.Attach(GetDlgItem(dialog, IDC_START_BUTTON));
    w.homeButton.Attach(GetDlgItem(dialog, IDC_HOME_BUTTON));
    EnableWindow(GetDlgItem(dialog, IDC_START_BUTTON), FALSE);
    w.fileProgress.LoadFillBitmap(IDB_FILL_FILE, 1);
    w.fileProgress.SetRange(0, 1);
    w.totalProgress.LoadFillBitmap(IDB_FILL_TOTAL, 1);
    w.totalProgress.SetRange(0, 1);
    SizeAndCentre(dialog);
    MoveWindow(GetDlgItem(dialog, IDC_TOTAL_PROGRESS), 415, 138, 296, 19, TRUE);
    // The launcher leaves the file bar below the visible area; here it sits in the empty news
    // panel so its tile can be checked too.
    MoveWindow(GetDlgItem(dialog, IDC_FILE_PROGRESS), 40, 180, 296, 19, TRUE);
    w.homeButton.LoadImages(IDB_HOME_NORMAL, IDB_HOME_HIGHLIGHT, IDB_HOME_PRESSED);
    w.startButton.LoadImages(IDB_START_NORMAL, IDB_START_HIGHLIGHT, IDB_START_PRESSED);
    w.closeButton.LoadImages(IDB_EXIT_NORMAL, IDB_EXIT_HIGHLIGHT, IDB_EXIT_PRESSED);
    MoveWindow(GetDlgItem(dialog, IDC_HOME_BUTTON), 407, 230, 94, 45, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_START_BUTTON), 511, 218, 113, 58, TRUE);
    MoveWindow(GetDlgItem(dialog, IDC_CLOSE_BUTTON), 631, 230, 94, 45, TRUE);
    ShowWindow(GetDlgItem(dialog, IDC_NEWS_PLACE), SW_HIDE);
    SetTimer(dialog, kCommandPollTimer, 50, nullptr);
}

void PutText(HDC dc, int x, int y, const wchar_t* text) {
    TextOutW(dc, x, y, text, static_cast<int>(wcslen(text)));
}

// The background and sample texts where the launcher puts its own, so the picture reads like the
// real window.
void Paint(HWND dialog) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    HBITMAP background = LoadBitmapA(GetModuleHandleW(nullptr), MAKEINTRESOURCEA(IDB_BACKGROUND));
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, background);
    BitBlt(dc, 0, 0, kClientWidth, kClientHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(background);

    auto makeFont = [](int points) {
        return CreateFontW(-MulDiv(points, 96, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           HANGEUL_CHARSET, 0, 0, 0, 0, L"굴림");
    };
    HFONT font9 = makeFont(9), font8 = makeFont(8);
    HGDIOBJ oldFont = SelectObject(dc, font9);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 255, 255));
    PutText(dc, 473, 65, L"3 / 12");
    PutText(dc, 629, 65, L"482133 Byte");
    SetTextColor(dc, RGB(255, 255, 0));
    PutText(dc, 415, 100, L"패치 파일을 받는 중입니다..");
    SelectObject(dc, font8);
    SetTextColor(dc, RGB(39, 135, 206));
    PutText(dc, 416, 300, L"Copyright (C) VORANTHEX. All rights reserved.");
    PutText(dc, 416, 313, L"본 게임의 저작권은 VORANTHEX에 있습니다.");
    SelectObject(dc, oldFont);
    DeleteObject(font9);
    DeleteObject(font8);
    EndPaint(dialog, &ps);
}

// Worker side: only the slots (and, for "direct", the control object's own forwarding).
void RunOnWorker(const std::string& verb, int value) {
    TestWindow& w = *g_window;
    std::shared_ptr<qr::ProgressSlot> total = w.totalProgress.slot();
    std::shared_ptr<qr::ProgressSlot> file = w.fileProgress.slot();
    std::shared_ptr<qr::ButtonSlot> start = w.startButton.slot();
    std::thread([&w, verb, value, total, file, start] {
        if (verb == "bars") {
            total->SetRange32(0, 200);
            total->SetPos(value * 2);
            file->SetRange32(0, 10);
            file->SetPos(value / 10);
            w.log->Line("bars %d done total %d %d %d file %d %d %d", value,
                        w.totalProgress.lower(), w.totalProgress.upper(), w.totalProgress.pos(),
                        w.fileProgress.lower(), w.fileProgress.upper(), w.fileProgress.pos());
        } else if (verb == "direct") {
            w.totalProgress.SetRange32(0, 100);
            int previous = w.totalProgress.SetPos(value);
            w.log->Line("direct %d done previous %d pos %d", value, previous, w.totalProgress.pos());
        } else if (verb == "blink") {
            start->Enable(true);
            start->StartBlink();
            w.log->Line("blink done blinking %d", w.startButton.blinking() ? 1 : 0);
        }
    }).detach();
}

void PollCommands(HWND dialog) {
    const std::string path = g_window->directory + "\\command.txt";
    std::ifstream in(path);
    if (!in) return;
    std::string verb;
    int value = 0;
    in >> verb >> value;
    in.close();
    DeleteFileA(path.c_str());
    if (verb.empty()) return;
    g_window->log->Line("command-file %s %d", verb.c_str(), value);
    if (verb == "quit")
        DestroyWindow(dialog);
    else
        RunOnWorker(verb, value);
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        Initialise(dialog);
        POINT origin{0, 0};
        ClientToScreen(dialog, &origin);
        for (int id : {900, 901, IDB_FILL_YELLOW, IDB_FILL_TOTAL, 999}) LogPalette(id);
        for (int id : {IDC_TOTAL_PROGRESS, IDC_FILE_PROGRESS, IDC_HOME_BUTTON, IDC_START_BUTTON,
                       IDC_CLOSE_BUTTON})
            LogControl(dialog, id);
        g_window->log->Line("ready %ld %ld", origin.x, origin.y);
        return TRUE;
    }
    case WM_PAINT:
        Paint(dialog);
        return TRUE;
    case WM_MOUSEMOVE:
        g_window->homeButton.ShowNormal();
        g_window->startButton.ShowNormal();
        g_window->closeButton.ShowNormal();
        return TRUE;
    case WM_COMMAND:
        g_window->log->Line("command %d %d button-down %d", LOWORD(wParam), HIWORD(wParam),
                            (GetAsyncKeyState(VK_LBUTTON) & 0x8000) ? 1 : 0);
        return TRUE;
    case WM_TIMER:
        if (wParam == kCommandPollTimer) PollCommands(dialog);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: skin_window_check <output directory>\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    TestWindow window;
    window.directory = argv[1];
    window.log = std::make_unique<Log>(window.directory + "\\window.log");
    g_window = &window;
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LAUNCHER),
                                     nullptr, DialogProcedure, 0);
    if (!dialog) {
        window.log->Line("error dialog %lu", GetLastError());
        return 1;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    window.log->Line("closed");
    g_window = nullptr;
    return 0;
}

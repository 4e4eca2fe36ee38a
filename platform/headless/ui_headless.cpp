#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/ui.h"

struct WindowObj {
    WindowObj* parent = nullptr;
    int id = -1;
    ControlKind kind = ControlKind::StaticText;
    std::string text;
    bool enabled = true;
    bool visible = true;
    int state = kUnchecked;
    std::vector<std::string> items;
    int sel = -1;
    int32_t low = 0, high = 100, pos = 0;
    uint32_t colour = kNoColour;
    unsigned style = 0;
    // Dialogs only.
    int focus = -1;
    DlgProc proc = nullptr;
    void* data = nullptr;
    bool ended = false;
    int result = 0;
    std::vector<std::unique_ptr<WindowObj>> children;
};

namespace {

std::recursive_mutex g_lock;
// Commands posted to dialogs, waiting for headlessPumpUntil.
std::mutex g_postLock;
std::condition_variable g_posted;
std::deque<std::pair<Window, int>> g_queue;
HeadlessHooks g_hooks;
std::vector<std::unique_ptr<WindowObj>> g_dialogs;  // open dialogs, owned here

using Lock = std::lock_guard<std::recursive_mutex>;

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void headlessSetHooks(HeadlessHooks hooks) { g_hooks = std::move(hooks); }
HeadlessHooks& headlessHooks() { return g_hooks; }

Window headlessCreateDialog(const DialogTemplate& tmpl, DlgProc proc, void* data) {
    Window dlg;
    {
        Lock lock(g_lock);
        g_dialogs.push_back(std::make_unique<WindowObj>());
        dlg = g_dialogs.back().get();
    }
    dlg->id = tmpl.id;
    dlg->text = tmpl.title;
    dlg->proc = proc;
    dlg->data = data;
    for (const ControlTemplate& c : tmpl.controls) {
        auto ctl = std::make_unique<WindowObj>();
        ctl->parent = dlg;
        ctl->id = c.id;
        ctl->kind = c.kind;
        ctl->text = c.caption;
        ctl->enabled = !(c.style & kDisabled);
        ctl->visible = !(c.style & kHidden);
        ctl->style = c.style;
        dlg->children.push_back(std::move(ctl));
    }
    proc(dlg, kMsgInitDialog, 0);
    return dlg;
}

void headlessDestroy(Window dlg) {
    {
        std::lock_guard<std::mutex> posted(g_postLock);
        std::erase_if(g_queue, [dlg](const auto& item) { return item.first == dlg; });
    }
    Lock lock(g_lock);
    std::erase_if(g_dialogs, [dlg](const auto& d) { return d.get() == dlg; });
}

bool alive(Window dlg) {
    Lock lock(g_lock);
    return std::any_of(g_dialogs.begin(), g_dialogs.end(),
                       [dlg](const auto& d) { return d.get() == dlg; });
}

void postCommand(Window dlg, int id) {
    if (!alive(dlg)) return;
    std::lock_guard<std::mutex> lock(g_postLock);
    g_queue.emplace_back(dlg, id);
    g_posted.notify_all();
}

bool headlessPumpUntil(const std::function<bool()>& done, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!done()) {
        std::pair<Window, int> item;
        {
            std::unique_lock<std::mutex> lock(g_postLock);
            if (!g_posted.wait_until(lock, deadline, [] { return !g_queue.empty(); }))
                return done();
            item = g_queue.front();
            g_queue.pop_front();
        }
        // A dialog destroyed since: its commands go with it.
        if (alive(item.first) && !headlessEnded(item.first))
            item.first->proc(item.first, kMsgCommand, item.second);
    }
    return true;
}

bool headlessKey(Window dlg, char key) {
    int id = 0;
    {
        Lock lock(g_lock);
        const std::string mark = std::string("&") + key;
        for (auto& c : dlg->children) {
            const bool button =
                c->kind == ControlKind::PushButton || c->kind == ControlKind::DefPushButton;
            if (!button || !c->enabled || !c->visible) continue;
            const bool takes = key == '\r' ? c->kind == ControlKind::DefPushButton
                                           : upper(c->text).find(upper(mark)) != std::string::npos;
            if (takes) {
                id = c->id;
                break;
            }
        }
    }
    if (id == 0) return false;
    dlg->proc(dlg, kMsgCommand, id);
    return true;
}

void headlessClick(Window dlg, int id) {
    Window ctl = dlgItem(dlg, id);
    if (ctl) {
        Lock lock(g_lock);
        if (ctl->kind == ControlKind::CheckBox) ctl->state = ctl->state == kChecked ? 0 : 1;
        if (ctl->kind == ControlKind::RadioButton) ctl->state = kChecked;
    }
    dlg->proc(dlg, kMsgCommand, id);
}

void headlessScan(Window dlg, int id, const std::string& text) {
    Window edit = dlgItem(dlg, id);
    if (!edit) return;
    bool ownCommand = false;
    {
        Lock lock(g_lock);
        edit->text = text;
        dlg->focus = id;
        ownCommand = (edit->style & kScanField) != 0;
    }
    if (!ownCommand) {
        headlessKey(dlg, '\r');
        return;
    }
    dlg->proc(dlg, kMsgCommand, id);
}

int headlessFocus(Window dlg) {
    Lock lock(g_lock);
    return dlg->focus;
}

void setFocus(Window w) {
    if (!w || !w->parent) return;
    Lock lock(g_lock);
    w->parent->focus = w->id;
}

bool headlessEnded(Window dlg, int* result) {
    Lock lock(g_lock);
    if (result) *result = dlg->result;
    return dlg->ended;
}

void headlessProgress(Window bar, int* low, int* high, int* pos) {
    Lock lock(g_lock);
    *low = bar->low;
    *high = bar->high;
    *pos = bar->pos;
}

void* dialogData(Window dlg) { return dlg ? dlg->data : nullptr; }

int dialogBox(const DialogTemplate& tmpl, Window, DlgProc proc, void* data) {
    Window dlg = headlessCreateDialog(tmpl, proc, data);
    if (g_hooks.onDialog) g_hooks.onDialog(dlg);
    int result = 2;
    if (!headlessEnded(dlg, &result)) result = 2;
    headlessDestroy(dlg);
    return result;
}

void endDialog(Window dlg, int result) {
    Lock lock(g_lock);
    dlg->ended = true;
    dlg->result = result;
}

Window dlgItem(Window dlg, int id) {
    if (!dlg) return nullptr;
    for (auto& c : dlg->children)
        if (c->id == id) return c.get();
    return nullptr;
}

void setWindowText(Window w, const std::string& text) {
    if (!w) return;
    {
        Lock lock(g_lock);
        w->text = text;
    }
    if (g_hooks.onText) g_hooks.onText(w, text);
}

std::string windowText(Window w) {
    Lock lock(g_lock);
    return w ? w->text : std::string();
}

void enableWindow(Window w, bool enable) {
    if (!w) return;
    {
        Lock lock(g_lock);
        w->enabled = enable;
    }
    if (g_hooks.onEnable) g_hooks.onEnable(w, enable);
}

bool isWindowEnabled(Window w) {
    Lock lock(g_lock);
    return w && w->enabled;
}

bool isWindowVisible(Window w) {
    Lock lock(g_lock);
    return w && w->visible;
}

void updateWindow(Window) {}
void invalidateWindow(Window) {}

int checkState(Window button) {
    Lock lock(g_lock);
    return button ? button->state : kUnchecked;
}

int buttonState(Window dlg, int id) { return checkState(dlgItem(dlg, id)); }

void setButtonState(Window dlg, int id, int state) {
    Window w = dlgItem(dlg, id);
    Lock lock(g_lock);
    if (w) w->state = state;
}

void checkRadioButton(Window dlg, int first, int last, int check) {
    Lock lock(g_lock);
    for (auto& c : dlg->children)
        if (c->id >= first && c->id <= last) c->state = c->id == check ? kChecked : kUnchecked;
}

int comboAdd(Window combo, const std::string& text) {
    Lock lock(g_lock);
    combo->items.push_back(text);
    return int(combo->items.size()) - 1;
}

int comboCount(Window combo) {
    Lock lock(g_lock);
    return int(combo->items.size());
}

void comboSetSel(Window combo, int index) {
    Lock lock(g_lock);
    combo->sel = (index >= 0 && index < int(combo->items.size())) ? index : -1;
}

int comboSel(Window combo) {
    Lock lock(g_lock);
    return combo ? combo->sel : -1;
}

std::string comboText(Window combo, int index) {
    Lock lock(g_lock);
    if (index < 0 || index >= int(combo->items.size())) return std::string();
    return combo->items[size_t(index)];
}

int comboFindPrefix(Window combo, int start, const std::string& text) {
    Lock lock(g_lock);
    const int n = int(combo->items.size());
    const std::string want = upper(text);
    for (int k = 1; k <= n; ++k) {
        int i = ((start < 0 ? -1 : start) + k) % n;
        if (upper(combo->items[size_t(i)]).compare(0, want.size(), want) == 0) return i;
    }
    return -1;
}

void progressSetRange(Window bar, int32_t low, int32_t high) {
    int pos;
    {
        Lock lock(g_lock);
        bar->low = low;
        bar->high = high;
        bar->pos = std::clamp(bar->pos, low, std::max(low, high));
        pos = bar->pos;
    }
    if (g_hooks.onProgress) g_hooks.onProgress(bar, low, high, pos);
}

void progressSetPos(Window bar, int32_t pos) {
    int low, high;
    {
        Lock lock(g_lock);
        bar->pos = std::clamp(pos, bar->low, std::max(bar->low, bar->high));
        pos = bar->pos;
        low = bar->low;
        high = bar->high;
    }
    if (g_hooks.onProgress) g_hooks.onProgress(bar, low, high, pos);
}

void setControlColour(Window w, uint32_t rgb) {
    Lock lock(g_lock);
    if (w) w->colour = rgb;
}

uint32_t controlColour(Window w) {
    Lock lock(g_lock);
    return w ? w->colour : kNoColour;
}

bool askYesNo(Window owner, const std::string& text, const std::string&) {
    return g_hooks.onAsk && g_hooks.onAsk(owner, text);
}

void messageBox(Window owner, const std::string& text, const std::string& caption, unsigned) {
    if (g_hooks.onMessageBox) {
        g_hooks.onMessageBox(owner, text, caption);
        return;
    }
    std::printf("[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
}

bool chooseOpenFile(Window, std::string& path, size_t capacity, const std::string&,
                    const std::string& title) {
    if (!g_hooks.onChooseFile) return false;
    std::string chosen = path;
    if (!g_hooks.onChooseFile(chosen, title)) return false;
    if (chosen.size() > capacity - 1) return false;  // does not fit: as if cancelled
    path = chosen;
    return true;
}

bool browseForFolder(Window, const std::string& title, std::string& folder) {
    return g_hooks.onBrowseFolder && g_hooks.onBrowseFolder(folder, title);
}

void exitProgram(int status) {
    std::fflush(stdout);
    std::exit(status);
}

void playSound(const std::string& file) {
    if (g_hooks.onSound) g_hooks.onSound(file);
}

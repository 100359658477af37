#pragma once

class QWindow;
struct wl_proxy;

// Asks a Wayland compositor to keep its own keyboard shortcuts (Alt+Tab, the
// Super key, switching workspaces) from one of our windows while it has the
// focus: what a keyboard grab does on X11. Only compositors that offer the
// keyboard-shortcuts-inhibit protocol can be asked; elsewhere, and on X11,
// nothing happens and inhibit() answers false.
class ShortcutsInhibitor {
public:
    ShortcutsInhibitor() = default;
    ShortcutsInhibitor(const ShortcutsInhibitor &) = delete;
    ShortcutsInhibitor &operator=(const ShortcutsInhibitor &) = delete;
    ~ShortcutsInhibitor() { release(); }

    // Whether the compositor this program runs on offers it.
    static bool available();
    // Asks for `window`, letting go of any earlier window first.
    bool inhibit(QWindow *window);
    void release();

private:
    wl_proxy *m_inhibitor = nullptr;
};

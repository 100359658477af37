#include "system/ShortcutsInhibitor.h"

#ifdef TADPOLE_WAYLAND

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <cstring>

namespace {

struct Compositor {
    wl_display *display = nullptr;
    wl_seat *seat = nullptr;
    zwp_keyboard_shortcuts_inhibit_manager_v1 *manager = nullptr;
};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *compositor = static_cast<Compositor *>(data);
    if (std::strcmp(interface, zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name) == 0)
        compositor->manager = static_cast<zwp_keyboard_shortcuts_inhibit_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1));
}

void onGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener RegistryListener = {onGlobal, onGlobalRemove};

// Looked up once, on a queue of our own so that Qt's events are left alone.
const Compositor &compositor()
{
    static const Compositor found = [] {
        Compositor c;
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            return c;
        QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
        c.display = static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"));
        c.seat = static_cast<wl_seat *>(native->nativeResourceForIntegration("wl_seat"));
        if (!c.display || !c.seat)
            return c;
        wl_event_queue *queue = wl_display_create_queue(c.display);
        auto *display = static_cast<wl_display *>(wl_proxy_create_wrapper(c.display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(display), queue);
        wl_registry *registry = wl_display_get_registry(display);
        wl_registry_add_listener(registry, &RegistryListener, &c);
        wl_display_roundtrip_queue(c.display, queue);
        wl_registry_destroy(registry);
        wl_proxy_wrapper_destroy(display);
        return c;
    }();
    return found;
}

} // namespace

bool ShortcutsInhibitor::available()
{
    return compositor().manager != nullptr;
}

bool ShortcutsInhibitor::inhibit(QWindow *window)
{
    release();
    const Compositor &c = compositor();
    if (!c.manager || !window)
        return false;
    auto *surface = static_cast<wl_surface *>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", window));
    if (!surface)
        return false;
    m_inhibitor = reinterpret_cast<wl_proxy *>(
        zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(c.manager, surface, c.seat));
    wl_display_flush(c.display);
    return m_inhibitor != nullptr;
}

void ShortcutsInhibitor::release()
{
    if (!m_inhibitor)
        return;
    zwp_keyboard_shortcuts_inhibitor_v1_destroy(reinterpret_cast<zwp_keyboard_shortcuts_inhibitor_v1 *>(m_inhibitor));
    wl_display_flush(compositor().display);
    m_inhibitor = nullptr;
}

#else

bool ShortcutsInhibitor::available()
{
    return false;
}

bool ShortcutsInhibitor::inhibit(QWindow *)
{
    return false;
}

void ShortcutsInhibitor::release() {}

#endif

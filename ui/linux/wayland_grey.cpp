// The stimulation window's grey on Wayland, without painting the screen on the CPU.
//
// Painted by QPainter, every frame would fill the whole window's shared-memory buffer,
// and Qt would first copy the last buffer into the next whenever the compositor still
// holds it. Instead a subsurface covers Qt's own surface: for each grey there is one
// tiny buffer of that grey, made once, and the compositor scales it to the window
// (wp_viewporter). A frame then costs one attach and one commit. The buffers never
// change, so none has to be waited for.
//
// All requests here go through Qt's own connection, on an event queue of our own that
// the UI thread drains once per frame, so Qt's event thread never sees our events.
#include "ui/linux/wayland_grey.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include <wayland-client.h>

#include "viewporter-client-protocol.h"
#include "visual/strobe_level.h"

namespace {

// Each grey's buffer is 4x4 pixels and only its middle 2x2 is shown, so however the
// compositor filters the scaled picture, it only ever reads pixels of the same grey.
constexpr int kSide = 4;
constexpr int kStride = kSide * 4;
constexpr int kBufferBytes = kSide * kStride;
constexpr int kGreys = 255; // 0 (black) to 254

struct Globals {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_compositor* compositor = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wl_shm* shm = nullptr;
    wp_viewporter* viewporter = nullptr;
    wl_buffer* greys[kGreys] {};
    bool ready = false;
    bool tried = false;
};
Globals g;

// The covering surface while the stimulation window is shown.
wl_surface* gSurface = nullptr;
wl_subsurface* gSubsurface = nullptr;
wp_viewport* gViewport = nullptr;

void onGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t)
{
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        g.compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    else if (std::strcmp(interface, wl_subcompositor_interface.name) == 0)
        g.subcompositor = static_cast<wl_subcompositor*>(
            wl_registry_bind(registry, name, &wl_subcompositor_interface, 1));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        g.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wp_viewporter_interface.name) == 0)
        g.viewporter = static_cast<wp_viewporter*>(
            wl_registry_bind(registry, name, &wp_viewporter_interface, 1));
}

void onGlobalRemoved(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemoved};

// The 255 grey buffers, in one pool of shared memory.
bool makeGreys()
{
    const int fd = memfd_create("zarvelin-greys", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const int bytes = kGreys * kBufferBytes;
    void* memory = MAP_FAILED;
    if (ftruncate(fd, bytes) == 0)
        memory = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                      MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return false;
    }
    auto* pixels = static_cast<std::uint32_t*>(memory);
    for (int level = 0; level < kGreys; ++level)
        for (int i = 0; i < kSide * kSide; ++i)
            pixels[level * kSide * kSide + i] = greyColour(static_cast<std::uint8_t>(level));
    munmap(memory, static_cast<std::size_t>(bytes));
    wl_shm_pool* pool = wl_shm_create_pool(g.shm, fd, bytes);
    close(fd); // the compositor has its own copy of the descriptor once the pool is sent
    for (int level = 0; level < kGreys; ++level)
        g.greys[level] = wl_shm_pool_create_buffer(pool, level * kBufferBytes, kSide, kSide,
                                                   kStride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool); // the buffers keep the memory
    return true;
}

bool setUp()
{
    if (g.tried)
        return g.ready;
    g.tried = true;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (QGuiApplication::platformName() != QLatin1String("wayland") || native == nullptr)
        return false;
    g.display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    if (g.display == nullptr)
        return false;
    g.queue = wl_display_create_queue(g.display);
    // The registry is made through a wrapper already on our queue, so not one of its
    // events can reach Qt's queue first.
    auto* display = static_cast<wl_display*>(wl_proxy_create_wrapper(g.display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(display), g.queue);
    wl_registry* registry = wl_display_get_registry(display);
    wl_proxy_wrapper_destroy(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    if (wl_display_roundtrip_queue(g.display, g.queue) < 0)
        return false;
    g.ready = g.compositor != nullptr && g.subcompositor != nullptr && g.shm != nullptr &&
              g.viewporter != nullptr && makeGreys();
    return g.ready;
}

} // namespace

bool waylandGreyAttach(QWidget* window)
{
    if (!setUp() || gSurface != nullptr)
        return false;
    QWindow* handle = window->windowHandle();
    auto* parent = handle != nullptr
        ? static_cast<wl_surface*>(QGuiApplication::platformNativeInterface()
                                       ->nativeResourceForWindow("surface", handle))
        : nullptr;
    if (parent == nullptr)
        return false;
    gSurface = wl_compositor_create_surface(g.compositor);
    gSubsurface = wl_subcompositor_get_subsurface(g.subcompositor, gSurface, parent);
    wl_subsurface_set_desync(gSubsurface);
    // Input passes through to the window beneath, which takes the keys and hides the
    // pointer.
    wl_region* none = wl_compositor_create_region(g.compositor);
    wl_surface_set_input_region(gSurface, none);
    wl_region_destroy(none);
    gViewport = wp_viewporter_get_viewport(g.viewporter, gSurface);
    wp_viewport_set_source(gViewport, wl_fixed_from_int(1), wl_fixed_from_int(1),
                           wl_fixed_from_int(kSide - 2), wl_fixed_from_int(kSide - 2));
    wp_viewport_set_destination(gViewport, window->width(), window->height());
    waylandGreyShow(0);
    // The subsurface appears with the window's next commit.
    window->update();
    return true;
}

void waylandGreyResize(int width, int height)
{
    if (gViewport == nullptr || width <= 0 || height <= 0)
        return;
    wp_viewport_set_destination(gViewport, width, height);
    wl_surface_commit(gSurface);
    wl_display_flush(g.display);
}

void waylandGreyShow(std::uint8_t level)
{
    if (gSurface == nullptr)
        return;
    wl_surface_attach(gSurface, g.greys[level < kGreys ? level : kGreys - 1], 0, 0);
    wl_surface_damage(gSurface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(gSurface);
    // Buffer releases and the like are of no use here; they only must not pile up.
    wl_display_dispatch_queue_pending(g.display, g.queue);
    wl_display_flush(g.display);
}

void waylandGreyDetach()
{
    if (gSurface == nullptr)
        return;
    wp_viewport_destroy(gViewport);
    wl_subsurface_destroy(gSubsurface);
    wl_surface_destroy(gSurface);
    gViewport = nullptr;
    gSubsurface = nullptr;
    gSurface = nullptr;
    wl_display_flush(g.display);
}

/* Test-only, preloaded into xdg-desktop-portal-wlr on the headless test desktop.
 * Without a GPU wlroots offers screencopy frames in shared memory only, and the
 * portal (0.7) refuses to start a cast unless a frame also names a DMA-BUF format,
 * although it then copies through shared memory anyway. So a frame that told its
 * shm format but no DMA-BUF one gets a linux_dmabuf event naming the same format
 * and size, just before buffer_done. Every event is passed on unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
const char *wl_proxy_get_class(struct wl_proxy *proxy);

/* zwlr_screencopy_frame_v1 events, version 3, in opcode order. */
enum { BUFFER, FLAGS, READY, FAILED, DAMAGE, LINUX_DMABUF, BUFFER_DONE };
typedef void (*handler)(void);
typedef void (*event0)(void *, struct wl_proxy *);
typedef void (*event1)(void *, struct wl_proxy *, uint32_t);
typedef void (*event3)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t);
typedef void (*event4)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t, uint32_t);

/* Frames in flight: the portal has one per cast. */
static struct frame {
    struct wl_proxy *proxy;
    const handler *original;
    uint32_t format, width, height;
    int shm, dmabuf;
} frames[32];
static unsigned next_slot;

static struct frame *find(struct wl_proxy *proxy) {
    for (unsigned i = 0; i < sizeof frames / sizeof *frames; ++i)
        if (frames[i].proxy == proxy) return &frames[i];
    return NULL;
}
#define ORIGINAL(type, op) ((type)find(p)->original[op])

static void on_buffer(void *d, struct wl_proxy *p, uint32_t format, uint32_t w, uint32_t h, uint32_t stride) {
    struct frame *f = find(p);
    f->format = format, f->width = w, f->height = h, f->shm = 1;
    ORIGINAL(event4, BUFFER)(d, p, format, w, h, stride);
}
static void on_flags(void *d, struct wl_proxy *p, uint32_t flags) { ORIGINAL(event1, FLAGS)(d, p, flags); }
static void on_ready(void *d, struct wl_proxy *p, uint32_t hi, uint32_t lo, uint32_t ns) { ORIGINAL(event3, READY)(d, p, hi, lo, ns); }
static void on_failed(void *d, struct wl_proxy *p) { ORIGINAL(event0, FAILED)(d, p); }
static void on_damage(void *d, struct wl_proxy *p, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    ORIGINAL(event4, DAMAGE)(d, p, x, y, w, h);
}
static void on_linux_dmabuf(void *d, struct wl_proxy *p, uint32_t format, uint32_t w, uint32_t h) {
    find(p)->dmabuf = 1;
    ORIGINAL(event3, LINUX_DMABUF)(d, p, format, w, h);
}
static void on_buffer_done(void *d, struct wl_proxy *p) {
    struct frame *f = find(p);
    if (f->shm && !f->dmabuf) {
        /* wl_shm numbers its two oldest formats 0 and 1; its other values are DRM fourccs. */
        uint32_t fourcc = f->format == 0 ? 0x34325241 /* AR24 */ : f->format == 1 ? 0x34325258 /* XR24 */ : f->format;
        ORIGINAL(event3, LINUX_DMABUF)(d, p, fourcc, f->width, f->height);
    }
    ORIGINAL(event0, BUFFER_DONE)(d, p);
}
static const handler ours[] = {
    (handler)on_buffer, (handler)on_flags, (handler)on_ready, (handler)on_failed,
    (handler)on_damage, (handler)on_linux_dmabuf, (handler)on_buffer_done,
};

int wl_proxy_add_listener(struct wl_proxy *proxy, void (**implementation)(void), void *data) {
    static int (*real)(struct wl_proxy *, void (**)(void), void *);
    if (!real) real = (int (*)(struct wl_proxy *, void (**)(void), void *))dlsym(RTLD_NEXT, "wl_proxy_add_listener");
    if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") != 0)
        return real(proxy, implementation, data);
    /* A new frame may get the address of one destroyed before its end. */
    struct frame *f = find(proxy);
    if (!f) f = &frames[next_slot++ % (sizeof frames / sizeof *frames)];
    *f = (struct frame){ .proxy = proxy, .original = (const handler *)implementation };
    return real(proxy, (void (**)(void))ours, data);
}

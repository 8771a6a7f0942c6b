#include "X11TestWindow.h"

// The X11 headers define macros (None, Bool, Status, ...) that clash with other headers, so
// they stay in this file.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace kestrine::test
{
    namespace
    {
        // A plug-in leaves X error handling to its host. Errors of the plug-in's own requests
        // (a window property whose atom does not exist without a window manager, say) must not
        // end the process, as Xlib's default handler would.
        int ignoreError (Display*, XErrorEvent*)  { return 0; }
    }

    struct X11TestWindow::Connection
    {
        Display* display = nullptr;
        Window window = 0;
        XErrorHandler previousHandler = nullptr;
    };

    X11TestWindow::X11TestWindow (int width, int height)
        : connection (std::make_unique<Connection>())
    {
        auto& c = *connection;

        // Before any other Xlib call: the plug-in talks to the server from its own connection,
        // on the thread that serves its events.
        XInitThreads();
        c.previousHandler = XSetErrorHandler (ignoreError);
        c.display = XOpenDisplay (nullptr);

        int eventBase = 0, errorBase = 0, major = 0, minor = 0;

        if (c.display == nullptr || ! XTestQueryExtension (c.display, &eventBase, &errorBase, &major, &minor))
            return;

        const int screen = DefaultScreen (c.display);
        XSetWindowAttributes attributes {};
        attributes.override_redirect = True;   // placed exactly where asked, with or without a window manager
        attributes.background_pixel = BlackPixel (c.display, screen);
        c.window = XCreateWindow (c.display, RootWindow (c.display, screen), 0, 0,
                                  static_cast<unsigned int> (width), static_cast<unsigned int> (height), 0,
                                  CopyFromParent, InputOutput, nullptr /* visual: CopyFromParent */,
                                  CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised (c.display, c.window);
        XSync (c.display, False);
    }

    X11TestWindow::~X11TestWindow()
    {
        auto& c = *connection;

        if (c.display == nullptr)
        {
            XSetErrorHandler (c.previousHandler);
            return;
        }

        if (c.window != 0)
            XDestroyWindow (c.display, c.window);

        XCloseDisplay (c.display);
        XSetErrorHandler (c.previousHandler);
    }

    bool X11TestWindow::valid() const noexcept
    {
        return connection->display != nullptr && connection->window != 0;
    }

    unsigned long X11TestWindow::windowId() const noexcept
    {
        return connection->window;
    }

    bool X11TestWindow::childIsViewable() const
    {
        auto& c = *connection;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;

        if (! valid() || XQueryTree (c.display, c.window, &root, &parent, &children, &count) == 0)
            return false;

        bool viewable = false;

        for (unsigned int i = 0; i < count; ++i)
        {
            XWindowAttributes attributes {};
            if (XGetWindowAttributes (c.display, children[i], &attributes) != 0 && attributes.map_state == IsViewable)
                viewable = true;
        }

        if (children != nullptr)
            XFree (children);

        return viewable;
    }

    void X11TestWindow::moveMouseTo (int x, int y)
    {
        auto& c = *connection;
        XTestFakeMotionEvent (c.display, DefaultScreen (c.display), x, y, CurrentTime);
        XSync (c.display, False);
    }

    void X11TestWindow::pressLeftButton()
    {
        XTestFakeButtonEvent (connection->display, 1, True, CurrentTime);
        XSync (connection->display, False);
    }

    void X11TestWindow::releaseLeftButton()
    {
        XTestFakeButtonEvent (connection->display, 1, False, CurrentTime);
        XSync (connection->display, False);
    }
}

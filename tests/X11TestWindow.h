#pragma once

#include <memory>

namespace kestrine::test
{
    /** A top-level X11 window at the screen's top left corner, for a plug-in view to embed
        into, and a mouse that the X server moves and clicks for real (XTest). Linux only: the
        one place the tests talk to the window system directly. Needs a display (DISPLAY, e.g.
        from xvfb-run); valid() is false without one. */
    class X11TestWindow
    {
    public:
        X11TestWindow (int width, int height);
        ~X11TestWindow();

        X11TestWindow (const X11TestWindow&) = delete;
        X11TestWindow& operator= (const X11TestWindow&) = delete;

        bool valid() const noexcept;

        /** The window's id, as a VST3 view's attached() takes it. */
        unsigned long windowId() const noexcept;

        /** True once a child window (the embedded view) is mapped and viewable. */
        bool childIsViewable() const;

        /** Pointer events in the window's coordinates, sent to the X server at once. */
        void moveMouseTo (int x, int y);
        void pressLeftButton();
        void releaseLeftButton();

    private:
        struct Connection;
        std::unique_ptr<Connection> connection;
    };
}

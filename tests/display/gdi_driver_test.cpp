// The GDI driver on real windows of the platform's window manager: it opens on every
// device, takes the screen's size when asked for size 0, and what it presents is what the
// device screen shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "display/video_driver.h"
#include "display/window_system.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/screen.h"
#include "platform/user/window_manager.h"
#include "tests/display/support/device_session.h"

using namespace display;
using namespace display_test;

namespace {

class GdiDriverOnWindows : public ::testing::Test {
 protected:
    void SetUp() override {
        use_platform_window_system();
    }
    void TearDown() override {
        platform::destroy_all_windows();
        install_fake_window_system();
        use_device("pocketpc");
    }

    static void draw(PixelBuffer* frame, uint32_t seed) {
        for (uint32_t y = 0; y < frame->height; ++y)
            for (uint32_t x = 0; x < frame->width; ++x) *frame->at(int32_t(x), int32_t(y)) = pattern_pixel(x, y, seed);
    }

    // The device screen against the frame, over the part of it the screen has (the
    // headless screen keeps the size of the first device of the run).
    static void expect_screen_shows(PixelBuffer* frame) {
        platform::ScreenFrame screen = platform::screen_frame();
        int width = std::min<int>(screen.width, int(frame->width));
        int height = std::min<int>(screen.height, int(frame->height));
        ASSERT_GT(width, 0);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (screen.pixels[size_t(y) * screen.width + x] != *frame->at(x, y)) ++wrong;
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(GdiDriverOnWindows, OpensOnEveryDeviceAtTheScreensSizeAndPresentsTheFrame) {
    std::vector<std::string> profiles = display_profiles();
    for (const std::string& profile : profiles) {
        SCOPED_TRACE(profile);
        use_device(profile);
        platform::destroy_all_windows();
        const VideoDetect& found = video_detect();
        ASSERT_GE(found.driver_count, 1);
        EXPECT_EQ(found.drivers[0], driver_gdi);  // always found, first, so it is tried last

        HWND window = full_screen_window();
        ASSERT_NE(window, nullptr);
        std::unique_ptr<VideoDriver> driver(CreateDriver(driver_gdi));
        ASSERT_NE(driver, nullptr);
        DisplayParameters asked{0, 0, 4, 1};
        ASSERT_TRUE(driver->Initialize(window, &asked, &found.records[driver_gdi]));
        platform::DeviceProfile device = platform::device_profile();
        EXPECT_EQ(driver->descriptor.width, device.screen_width);
        EXPECT_EQ(driver->descriptor.height, device.screen_height);
        EXPECT_EQ(driver->descriptor.swap_effect, 2);
        EXPECT_EQ(driver->descriptor.orientation, 0);
        EXPECT_FALSE(driver->Initialize(window, &asked, &found.records[driver_gdi]));  // already open

        PixelBuffer* frame = driver->BeginDraw();
        ASSERT_NE(frame, nullptr);
        draw(frame, 7);
        driver->SetUpdateRect(Rect{0, 0, driver->descriptor.width, driver->descriptor.height});
        driver->EndDraw(0);
        expect_screen_shows(frame);

        // Only the update rectangle is sent.
        std::vector<uint16_t> before = screen_pixels();
        draw(frame, 8);
        driver->SetUpdateRect(Rect{16, 32, 48, 40});
        driver->EndDraw(0);
        platform::ScreenFrame screen = platform::screen_frame();
        int changed_outside = 0, wrong_inside = 0;
        for (int y = 0; y < screen.height; ++y)
            for (int x = 0; x < screen.width; ++x) {
                uint16_t now = screen.pixels[size_t(y) * screen.width + x];
                bool inside = x >= 16 && x < 48 && y >= 32 && y < 40;
                if (inside && now != *frame->at(x, y)) ++wrong_inside;
                if (!inside && now != before[size_t(y) * screen.width + x]) ++changed_outside;
            }
        EXPECT_EQ(wrong_inside, 0);
        EXPECT_EQ(changed_outside, 0);

        // A window that went away is not drawn to.
        DestroyWindow(window);
        driver->EndDraw(0);
    }
}

TEST_F(GdiDriverOnWindows, RefusesAnEmptyScreenAndAMissingRequest) {
    use_device("gdi");
    HWND window = full_screen_window();
    std::unique_ptr<VideoDriver> driver(CreateDriver(driver_gdi));
    VideoDescriptor nothing{0, 0, 16, 0, 4, 0, nullptr};
    DisplayParameters asked{0, 0, 4, 1};
    EXPECT_FALSE(driver->Initialize(window, &asked, &nothing));
    EXPECT_FALSE(driver->Initialize(window, nullptr, &nothing));
    DisplayParameters sized{64, 48, 4, 1};
    ASSERT_TRUE(driver->Initialize(window, &sized, &nothing));
    EXPECT_EQ(driver->descriptor.width, 64);
    EXPECT_EQ(driver->descriptor.height, 48);
}

TEST_F(GdiDriverOnWindows, DisplayOpensOnARealWindowAndLetsItGo) {
    for (const char* profile : {"gdi", "pocketpc"}) {
        SCOPED_TRACE(profile);
        use_device(profile);
        platform::destroy_all_windows();
        HWND window = full_screen_window();
        ASSERT_NE(window, nullptr);
        WNDPROC own = reinterpret_cast<WNDPROC>(uintptr_t(uint32_t(GetWindowLongW(window, GWL_WNDPROC))));
        DisplayParameters parameters{0, 0, 0, 1};
        std::unique_ptr<Display> shown(Display::Create(window, &parameters));
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(parameters.width, 240);
        EXPECT_EQ(parameters.height, 320);
        EXPECT_NE(reinterpret_cast<WNDPROC>(uintptr_t(uint32_t(GetWindowLongW(window, GWL_WNDPROC)))), own);

        ASSERT_TRUE(shown->BeginScene());
        PixelBuffer* back = shown->GetBackBuffer();
        draw(back, 3);
        shown->Update(nullptr);
        ASSERT_TRUE(shown->Swap(0));
        // Through the window on a GDI device; from the panel on one the driver writes
        // directly, so the desktop window shows it too.
        expect_screen_shows(back);

        // Closing the display gives the window its own procedure back.
        shown.reset();
        EXPECT_EQ(reinterpret_cast<WNDPROC>(uintptr_t(uint32_t(GetWindowLongW(window, GWL_WNDPROC)))), own);
        // A display whose window is destroyed first unbinds itself.
        shown.reset(Display::Create(window, &parameters));
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(DestroyWindow(window));
        shown.reset();
    }
}

}  // namespace

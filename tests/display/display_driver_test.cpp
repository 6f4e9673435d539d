// The display library on the simulated devices: update rectangles, suspend and resume,
// slow frame buffers, frame edges, hardware waits, detection records, the display core's
// rules and the rotation wrapper's rectangles.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/display_core.h"
#include "display/video_driver.h"
#include "display/video_geometry.h"
#include "platform/device/display_hardware.h"
#include "platform/kernel/fault_guard.h"
#include "tests/display/support/device_session.h"

using namespace display;
using namespace display_test;

namespace {

class DisplayDevices : public ::testing::Test {
 protected:
    void SetUp() override { install_fake_window_system(); }
    void TearDown() override {
        shown_.reset();
        use_device("pocketpc");
    }

    // A display on the named device, in orientation 0 with the given swap effect.
    Display* open(const std::string& profile, const std::string& screen = "", int32_t orientation = 0,
                  int32_t swap = 1) {
        shown_.reset();  // before the device it was made on goes
        use_device(profile, screen);
        DisplayParameters parameters{0, 0, orientation, swap};
        shown_.reset(Display::Create(handle_of(window_), &parameters));
        parameters_ = parameters;
        return shown_.get();
    }

    // Draws the whole back buffer with a pattern and presents the part rect (null: all).
    void present(uint32_t seed, const Rect* rect, uint32_t flags = 0) {
        ASSERT_TRUE(shown_->BeginScene());
        PixelBuffer* back = shown_->GetBackBuffer();
        for (uint32_t y = 0; y < back->height; ++y)
            for (uint32_t x = 0; x < back->width; ++x) *back->at(int32_t(x), int32_t(y)) = pattern_pixel(x, y, seed);
        shown_->Update(rect);
        ASSERT_TRUE(shown_->Swap(flags));
    }

    FakeWindow window_;
    std::unique_ptr<Display> shown_;
    DisplayParameters parameters_{};
};

const char* const devices_with_displays[] = {"pocketpc", "ipaq3800", "vga",    "gapi-o1", "gapi-o2", "gapi-dram",
                                             "gxinfo",   "raw-o1",   "raw-o2", "raw-o3",  "imageon", "mediaq"};

// Rows a driver sends whole: its update band covers full rows.
bool sends_whole_rows(const std::string& profile) { return profile == "mediaq" || profile == "gapi-dram"; }

TEST_F(DisplayDevices, OnlyTheRoundedUpdateRectangleChanges) {
    const Rect update{37, 50, 101, 133};
    for (const char* profile : devices_with_displays) {
        SCOPED_TRACE(profile);
        ASSERT_NE(open(profile), nullptr);
        present(1, nullptr);
        present(2, &update);
        int32_t width = 0, height = 0;
        std::vector<uint16_t> panel = panel_pixels(&width, &height);
        ASSERT_FALSE(panel.empty());
        // Everything rounds out to at most whole 16-pixel tiles (or whole rows).
        Rect allowed{update.left & ~15, update.top & ~15, (update.right + 15) & ~15, (update.bottom + 15) & ~15};
        if (sends_whole_rows(profile)) allowed.left = 0, allowed.right = width;
        int wrong_inside = 0, wrong_outside = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                uint16_t shown = panel[size_t(y) * width + x];
                bool inside = x >= update.left && x < update.right && y >= update.top && y < update.bottom;
                bool may_change = x >= allowed.left && x < allowed.right && y >= allowed.top && y < allowed.bottom;
                if (inside && shown != pattern_pixel(x, y, 2)) ++wrong_inside;
                if (!may_change && shown != pattern_pixel(x, y, 1)) ++wrong_outside;
            }
        EXPECT_EQ(wrong_inside, 0);
        EXPECT_EQ(wrong_outside, 0) << "sentinels outside the update rectangle were overwritten";
    }
}

TEST_F(DisplayDevices, DeactivationSuspendsAndActivationResumes) {
    for (const char* profile : devices_with_displays) {
        SCOPED_TRACE(profile);
        ASSERT_NE(open(profile), nullptr);
        present(3, nullptr);
        send(handle_of(window_), WM_ACTIVATE, 0);
        EXPECT_FALSE(shown_->BeginScene());
        EXPECT_FALSE(shown_->Swap(0));
        send(handle_of(window_), WM_ACTIVATE, 1);
        present(4, nullptr);
        int32_t width = 0;
        std::vector<uint16_t> panel = panel_pixels(&width);
        ASSERT_FALSE(panel.empty());
        EXPECT_EQ(panel[0], pattern_pixel(0, 0, 4));
        EXPECT_EQ(panel.back(), pattern_pixel(uint32_t(width - 1), uint32_t(panel.size() / width - 1), 4));
        EXPECT_GT(window_.messages_after, 0) << "messages must go on to the window's own procedure";
    }
}

TEST_F(DisplayDevices, SlowFrameBufferWritesOnlyChangedWordsAndAllAfterResume) {
    ASSERT_NE(open("mediaq"), nullptr);
    present(5, nullptr);
    platform::PanelView view{};
    ASSERT_TRUE(platform::display_panel(&view));
    auto poke = [&](int32_t x, int32_t y, uint16_t value) {
        std::memcpy(const_cast<uint8_t*>(view.origin) + x * view.x_stride + y * view.y_stride, &value, 2);
    };
    auto peek = [&](int32_t x, int32_t y) {
        uint16_t value;
        std::memcpy(&value, view.origin + x * view.x_stride + y * view.y_stride, 2);
        return value;
    };
    // Behind the driver's back: a word the next frame does not change keeps what is there.
    poke(20, 20, 0x1234);
    ASSERT_TRUE(shown_->BeginScene());
    PixelBuffer* back = shown_->GetBackBuffer();
    for (uint32_t y = 0; y < back->height; ++y)
        for (uint32_t x = 0; x < back->width; ++x) *back->at(int32_t(x), int32_t(y)) = pattern_pixel(x, y, 5);
    *back->at(100, 100) = 0xBEEF;
    shown_->Update(nullptr);
    ASSERT_TRUE(shown_->Swap(0));
    EXPECT_EQ(peek(20, 20), 0x1234) << "an unchanged word was written";
    EXPECT_EQ(peek(100, 100), 0xBEEF);

    // After a resume the next frame goes whole, even through a small update rectangle.
    send(handle_of(window_), WM_ACTIVATE, 0);
    send(handle_of(window_), WM_ACTIVATE, 1);
    const Rect small{0, 0, 8, 8};
    present(5, &small);
    EXPECT_EQ(peek(20, 20), pattern_pixel(20, 20, 5));
    EXPECT_EQ(peek(100, 100), pattern_pixel(100, 100, 5));
    poke(20, 20, 0x4321);
    present(5, nullptr);
    EXPECT_EQ(peek(20, 20), 0x4321) << "only changed words after the whole frame";
}

// Frame memory beyond the last pixel of each row and after the last row holds sentinels.
void expect_frame_edges_kept(const std::vector<uint8_t>& before, const uint8_t* frame, size_t used_row_bytes,
                             size_t pitch, size_t rows, size_t total) {
    for (size_t y = 0; y < rows; ++y)
        for (size_t i = used_row_bytes; i < pitch; ++i)
            ASSERT_EQ(frame[y * pitch + i], before[y * pitch + i]) << "row padding " << y;
    for (size_t i = rows * pitch; i < total; ++i) ASSERT_EQ(frame[i], before[i]) << "after the frame";
}

TEST_F(DisplayDevices, OddSizedScreensAreNotWrittenPastTheirEdges) {
    struct Case {
        const char* profile;
        const char* screen;
        int32_t orientation;
        uint32_t frame_physical;
        int32_t frame_width;  // as the panel scans
        int32_t frame_height;
    };
    const Case cases[] = {
        {"vga", "237x319", 0, 0x5C000000, 237, 319},     // direct, odd sides
        {"raw-o1", "232x312", 0, 0x5C000000, 312, 232},  // turned in tiles, sides not multiples of 16
        {"gxinfo", "238x318", 0, 0x0C000000, 238, 318},  // DMA in groups of four pixels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        ASSERT_NE(open(c.profile, c.screen, c.orientation), nullptr);
        size_t pitch = (size_t(c.frame_width) * 2 + 3) & ~size_t(3);
        size_t total = 4096 * ((pitch * c.frame_height + 4095) / 4096);
        uint8_t* frame = platform::physical_memory(c.frame_physical, uint32_t(total));
        ASSERT_NE(frame, nullptr);
        std::memset(frame, 0xA5, total);
        std::vector<uint8_t> before(frame, frame + total);
        const Rect corner{parameters_.width - 3, parameters_.height - 3, parameters_.width, parameters_.height};
        present(6, &corner);
        present(7, nullptr);
        expect_frame_edges_kept(before, frame, size_t(c.frame_width) * 2, pitch, size_t(c.frame_height), total);
        int32_t width = 0;
        std::vector<uint16_t> panel = panel_pixels(&width);
        size_t last = panel.size() - 1;
        EXPECT_EQ(panel[last], pattern_pixel(uint32_t(width - 1), uint32_t(last / width), 7));
    }
}

TEST_F(DisplayDevices, HardwareThatNeverAnswersDoesNotHang) {
    // An LCD whose refresh never reaches the window WaitSync waits for.
    ASSERT_NE(open("pocketpc"), nullptr);
    uint8_t* registers = platform::physical_memory(platform::lcd_register_base(), 0x210);
    ASSERT_NE(registers, nullptr);
    uint32_t never = 1u << 26;
    std::memcpy(registers + 0x20C, &never, 4);
    present(8, nullptr, 1);
    EXPECT_EQ(panel_pixels()[0], pattern_pixel(0, 0, 8));

    // A DMA engine that never becomes ready.
    ASSERT_NE(open("gxinfo"), nullptr);
    platform::gxdma_set_busy_polls(-1);
    present(9, nullptr);
    present(10, nullptr);
    EXPECT_EQ(panel_pixels()[0], pattern_pixel(0, 0, 10));
}

TEST_F(DisplayDevices, EachDriverKeepsItsOwnDetectionRecord) {
    use_device("ipaq3800");
    const VideoDetect& found = video_detect();
    ASSERT_EQ(found.driver_count, 3);
    // GAPI saw the turned panel; the LCD controller describes its own scan.
    EXPECT_EQ(found.records[driver_gapi].orientation, 3);
    EXPECT_EQ(found.records[driver_strongarm].orientation, 0);
    EXPECT_EQ(found.screen.orientation, 0);
    // A fallback to GAPI starts from GAPI's geometry, not the StrongARM's.
    std::unique_ptr<VideoDriver> gapi(CreateDriver(driver_gapi));
    DisplayParameters parameters{0, 0, 0, 1};
    ASSERT_TRUE(gapi->Initialize(handle_of(window_), &parameters, &found.records[driver_gapi]));
    EXPECT_EQ(gapi->descriptor.orientation, 3);
    EXPECT_EQ(gapi->descriptor.width, 320);
    EXPECT_EQ(gapi->descriptor.pitch, 640);
    ASSERT_NE(gapi->BeginDraw(), nullptr);
    gapi->EndDraw(0);
}

TEST_F(DisplayDevices, StrongArmOnTheIpaqUsesTheCachedAliasOfItsFrame) {
    ASSERT_NE(open("ipaq3800"), nullptr);
    EXPECT_EQ(parameters_.width, 240);
    EXPECT_EQ(parameters_.height, 320);
    ASSERT_TRUE(shown_->BeginScene());
    shown_->Swap(0);
    shown_.reset();
    use_device("ipaq3800");
    const VideoDetect& found = video_detect();
    std::unique_ptr<VideoDriver> lcd(CreateDriver(driver_strongarm));
    DisplayParameters parameters{0, 0, 0, 1};
    ASSERT_TRUE(lcd->Initialize(handle_of(window_), &parameters, &found.records[driver_strongarm]));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(lcd->descriptor.address), 0x8C050020u);
    EXPECT_EQ(lcd->descriptor.orientation, 3);
}

TEST_F(DisplayDevices, ModesFollowTheScreen) {
    use_device("pocketpc");
    ASSERT_EQ(display_mode_count(), 4);
    const VideoMode expected[] = {{240, 320, 0}, {320, 240, 1}, {240, 320, 2}, {320, 240, 3}};
    for (int i = 0; i < 4; ++i) {
        VideoMode mode{};
        ASSERT_TRUE(display_mode(i, &mode));
        EXPECT_EQ(mode.width, expected[i].width);
        EXPECT_EQ(mode.height, expected[i].height);
        EXPECT_EQ(mode.orientation, expected[i].orientation);
    }
    VideoMode mode{};
    EXPECT_FALSE(display_mode(4, &mode));
    EXPECT_FALSE(display_mode(0, nullptr));
    // A native orientation 1 on sides that are not multiples of 16 offers only itself and 0.
    use_device("raw-o1", "232x312");
    ASSERT_EQ(display_mode_count(), 2);
    ASSERT_TRUE(display_mode(1, &mode));
    EXPECT_EQ(mode.orientation, 0);
    EXPECT_EQ(mode.width, 232);
    // Orientation 2 is not offered there: no display.
    EXPECT_EQ(open("raw-o1", "232x312", 2), nullptr);
    EXPECT_NE(open("raw-o1", "232x312", 0), nullptr);
}

TEST_F(DisplayDevices, GdiOnlyDevicesFindOnlyGdi) {
    for (const char* profile : {"gdi", "gapi-fault"}) {
        SCOPED_TRACE(profile);
        use_device(profile);
        const VideoDetect& found = video_detect();
        ASSERT_EQ(found.driver_count, 1);
        EXPECT_EQ(found.drivers[0], driver_gdi);
    }
}

// ---- The display core with a driver of its own ----

struct FakeDriver final : VideoDriver {
    explicit FakeDriver(int32_t swap) {
        descriptor = VideoDescriptor{64, 48, 16, 128, 0, swap, nullptr};
        frame = pixel_buffer_create(64, 48);
    }
    ~FakeDriver() override { delete frame; }
    bool Initialize(HWND, const DisplayParameters*, const VideoDescriptor*) override { return true; }
    PixelBuffer* BeginDraw() override { return frame; }
    void EndDraw(uint32_t) override { ++shown; }
    void SetUpdateRect(const Rect& rect) override { sent = rect; }
    void WaitSync() override {}
    PixelBuffer* frame;
    Rect sent{-1, -1, -1, -1};
    int shown = 0;
};

struct FakeDevice final : DisplayDevice {
    explicit FakeDevice(int32_t swap) : DisplayDevice(nullptr), swap(swap) {}
    VideoDriver* InitializeDriver(const DisplayParameters*) override {
        fake = new FakeDriver(swap);
        return fake;
    }
    int32_t swap;
    FakeDriver* fake = nullptr;
};

TEST(DisplayCore, SwapEffectsDecideTheBackBuffer) {
    struct Case {
        int32_t driver_swap;
        int32_t requested;
        bool back_buffer;
        int32_t settled;
    };
    const Case cases[] = {{1, 2, true, 2}, {1, 1, false, 1}, {0, 1, true, 2}, {2, 2, false, 2}, {2, 1, false, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.driver_swap) + " asked " + std::to_string(c.requested));
        FakeDevice device(c.driver_swap);
        DisplayParameters requested{0, 0, 0, c.requested};
        ASSERT_TRUE(device.Init(&requested));
        EXPECT_EQ(device.back_buffer != nullptr, c.back_buffer);
        EXPECT_EQ(device.parameters.swap_effect, c.settled);
    }
}

TEST(DisplayCore, UpdateRectanglesAreClampedAndRoundedToEvenEdges) {
    FakeDevice device(1);
    DisplayParameters requested{0, 0, 0, 1};
    ASSERT_TRUE(device.Init(&requested));
    struct Case {
        Rect asked;
        Rect sent;
        Rect stored;
    };
    const Case cases[] = {
        {{-5, -5, 10, 10}, {0, 0, 10, 10}, {0, 0, 10, 10}},
        {{3, 3, 8, 8}, {3, 3, 8, 8}, {2, 2, 8, 8}},
        {{60, 40, 99, 99}, {60, 40, 64, 48}, {60, 40, 64, 48}},
        {{70, 70, 80, 80}, {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        device.Update(&c.asked);
        EXPECT_EQ(device.fake->sent.left, c.sent.left);
        EXPECT_EQ(device.fake->sent.bottom, c.sent.bottom);
        EXPECT_EQ(device.update_rect.left, c.stored.left);
        EXPECT_EQ(device.update_rect.top, c.stored.top);
        EXPECT_EQ(device.update_rect.right, c.stored.right);
        EXPECT_EQ(device.update_rect.bottom, c.stored.bottom);
    }
    device.Update(nullptr);
    EXPECT_EQ(device.fake->sent.right, 64);
    EXPECT_EQ(device.full_rows, 1);
}

TEST(DisplayCore, ASwapEffectOfZeroIsAskedAsDiscard) {
    install_fake_window_system();
    use_device("vga");
    FakeWindow window;
    DisplayParameters parameters{0, 0, 0, 0};
    std::unique_ptr<Display> shown(Display::Create(handle_of(window), &parameters));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(parameters.width, 480);
    EXPECT_EQ(parameters.swap_effect, 2);  // the raw frame buffer is shown through a kept back buffer
    shown.reset();
    use_device("pocketpc");
}

// A fault while a display is made (here the MediaQ probe's first write, into frame memory
// left read-only with no trap behind it, every trap slot being taken) reaches the
// caller's guard as the creation's error, and the window has its own procedure back:
// no message may reach a device that never got a driver.
TEST(DisplayCore, AFaultWhileADisplayIsMadeLeavesItsWindowAsItWas) {
    install_fake_window_system();
    use_device("mediaq");
    static uint8_t taken[16];
    int slots = 0;
    while (slots < 16 && platform::fault_trap_arm(&taken[slots], 1, [](void*, size_t) {})) ++slots;
    FakeWindow window;
    DisplayParameters parameters{0, 0, 0, 1};
    Display* volatile shown = nullptr;
    platform::FaultGuard guard;
    if (FAULT_GUARD_ENTER(guard)) {
        shown = Display::Create(handle_of(window), &parameters);
        platform::fault_guard_leave(&guard);
    }
    for (int i = 0; i < slots; ++i) platform::fault_trap_disarm(&taken[i]);
    EXPECT_EQ(shown, nullptr);
    delete shown;
    EXPECT_EQ(guard.code, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(window.procedure, own_procedure);
    if (window.procedure == own_procedure) {
        send(handle_of(window), WM_PAINT, 0);
        EXPECT_EQ(window.messages_after, 1);
    }
    use_device("pocketpc");
}

// ---- Rotation wrapper ----

TEST(RotationDriver, TurnsUpdateRectanglesIntoThePanelsTiles) {
    struct Inner final : VideoDriver {
        Inner() { descriptor = VideoDescriptor{320, 240, 16, 640, 0, 0, nullptr}; }
        bool Initialize(HWND, const DisplayParameters*, const VideoDescriptor*) override { return true; }
        PixelBuffer* BeginDraw() override { return nullptr; }
        void EndDraw(uint32_t) override {}
        void SetUpdateRect(const Rect& rect) override { sent = rect; }
        void WaitSync() override {}
        Rect sent{};
    };
    auto* inner = new Inner;
    RotationDriver turned(inner);
    DisplayParameters asked{0, 0, 1, 1};
    ASSERT_TRUE(turned.Initialize(nullptr, &asked, &inner->descriptor));
    EXPECT_EQ(turned.turn(), 3);
    EXPECT_EQ(turned.descriptor.width, 240);
    EXPECT_EQ(turned.descriptor.height, 320);
    turned.SetUpdateRect(Rect{0, 0, 10, 10});
    EXPECT_EQ(inner->sent.left, 0);
    EXPECT_EQ(inner->sent.top, 230);
    EXPECT_EQ(inner->sent.right, 10);
    EXPECT_EQ(inner->sent.bottom, 240);
    Rect tiles = turned.tile_rect();
    EXPECT_EQ(tiles.left, 0);
    EXPECT_EQ(tiles.top, 224);
    EXPECT_EQ(tiles.right, 16);
    EXPECT_EQ(tiles.bottom, 240);
}

// ---- Shared probes ----

TEST(DriverProbes, DeviceModelsComeFromTheOemString) {
    struct Case {
        const char16_t* oem;
        int32_t model;
    };
    const Case cases[] = {{u"MotoQ", 8},        {u"MotoQ9h", 0},          {u"toshiba e740 (x)", 6},
                          {u"Compaq iPAQ H3800 series", 1}, {u"SGH-i607", 9}, {u"", 0}, {u"Toshiba", 0}};
    for (const Case& c : cases) EXPECT_EQ(device_model_of(c.oem), c.model);
}

TEST(DriverProbes, StridesGiveOrientationAndPitch) {
    struct Case {
        int32_t x_stride;
        int32_t y_stride;
        int32_t orientation;
        int32_t width;
        int32_t pitch;
    };
    const Case cases[] = {{2, 480, 0, 240, 480}, {-480, 2, 3, 320, 480}, {640, -2, 1, 320, 640}, {-2, -480, 2, 240, 480}};
    for (const Case& c : cases) {
        VideoDescriptor d{};
        int32_t orientation = orientation_from_strides(c.x_stride, c.y_stride);
        describe_turned_frame(&d, orientation, 240, 320, c.x_stride, c.y_stride);
        EXPECT_EQ(d.orientation, c.orientation);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.pitch, c.pitch);
    }
    EXPECT_EQ(frame_offset(0, 16, 240, 320, 2, 480), 0);
}

}  // namespace

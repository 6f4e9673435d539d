// Device services: the millisecond clock, the screen's rotation, the hardware key map and
// the frame-buffer escapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "display/device_services.h"
#include "platform/kernel/registry.h"
#include "platform/kernel/threads.h"
#include "tests/display/support/device_session.h"
#include "tests/platform/temporary_root.h"

using namespace display;
using namespace display_test;

namespace {

// A fresh device root (and so an empty registry) on the named device.
class DeviceServices : public TemporaryRoot {
 protected:
    void TearDown() override {
        use_device("pocketpc");
        TemporaryRoot::TearDown();
    }

    void add_button(const char16_t* name) {
        std::u16string path = std::u16string(u"SOFTWARE\\Microsoft\\Shell\\Keys\\") + name;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::vector<uint16_t> key_map(int32_t rotation) {
        std::vector<uint16_t> map(key_map_size, 0xEEEE);
        EXPECT_EQ(build_key_map(map.data(), rotation), 1);
        return map;
    }

};

TEST_F(DeviceServices, ScreenRotationCountsAgainstDmdo) {
    use_device("pocketpc");
    struct Case {
        DWORD dmdo;
        int32_t rotation;
    };
    const Case cases[] = {{DMDO_0, 0}, {DMDO_90, 3}, {DMDO_180, 2}, {DMDO_270, 1}, {7, 0}};
    for (const Case& c : cases) {
        platform::display_set_orientation(c.dmdo);
        EXPECT_EQ(screen_rotation(), c.rotation) << c.dmdo;
    }
}

TEST_F(DeviceServices, FallbackKeysTurnWithTheRotation) {
    use_device("gdi");  // no gx.dll, no escape
    struct Case {
        int32_t rotation;
        uint16_t up, down, left, right;
    };
    const Case cases[] = {{0, 38, 40, 37, 39}, {1, 37, 39, 40, 38}, {2, 40, 38, 39, 37}, {3, 39, 37, 38, 40},
                          {4, 38, 40, 37, 39}};
    for (const Case& c : cases) {
        std::vector<uint16_t> map = key_map(c.rotation);
        EXPECT_EQ(map[key_up], c.up) << c.rotation;
        EXPECT_EQ(map[key_down], c.down) << c.rotation;
        EXPECT_EQ(map[key_left], c.left) << c.rotation;
        EXPECT_EQ(map[key_right], c.right) << c.rotation;
        EXPECT_EQ(map[key_start], 13);
        EXPECT_EQ(map[key_a], 32);
        EXPECT_EQ(map[key_b], 17);
        EXPECT_EQ(map[key_c], 16);
        for (int i = key_further; i < key_map_size; ++i) EXPECT_EQ(map[i], 0);
    }
}

TEST_F(DeviceServices, RegisteredButtonsFillTheFurtherEntries) {
    use_device("gdi");
    add_button(u"c1");
    add_button(u"100");  // low byte 0: not a button
    add_button(u"0d");   // the start key: not repeated
    add_button(u"C2");
    std::vector<uint16_t> map = key_map(0);
    std::vector<uint16_t> further(map.begin() + key_further, map.end());
    std::sort(further.begin(), further.begin() + 2);
    EXPECT_EQ(further, (std::vector<uint16_t>{0xC1, 0xC2, 0, 0, 0, 0, 0, 0}));
}

TEST_F(DeviceServices, ASeventeenthButtonIsIgnored) {
    use_device("gdi");
    for (int code = 0xA0; code < 0xA0 + 17; ++code) {
        char16_t name[3] = {u"0123456789abcdef"[code >> 4], u"0123456789abcdef"[code & 15], 0};
        add_button(name);
    }
    std::vector<uint16_t> map = key_map(0);
    for (int i = key_further; i < key_map_size; ++i) {
        EXPECT_GE(map[i], 0xA0) << i;
        EXPECT_LT(map[i], 0xA0 + 16) << "the seventeenth code came in";
    }
}

TEST_F(DeviceServices, GameApiKeysDecideOnGapiDevices) {
    use_device("pocketpc");
    std::vector<uint16_t> portrait = key_map(0);
    EXPECT_EQ(portrait[key_up], 0x26);
    EXPECT_EQ(portrait[key_start], 0x86);
    EXPECT_EQ(portrait[key_a], 0xC1);
    // Landscape: start, A, B, C from the landscape list; directions turned.
    std::vector<uint16_t> landscape = key_map(1);
    EXPECT_EQ(landscape[key_up], 0x25);
    EXPECT_EQ(landscape[key_start], 0x87);
    EXPECT_EQ(landscape[key_a], 0xC4);
    // The other list's buttons are the further ones.
    std::vector<uint16_t> further(portrait.begin() + key_further, portrait.begin() + key_further + 4);
    EXPECT_EQ(further, (std::vector<uint16_t>{0xC5, 0xC4, 0x87, 0xC6}));

    use_device("gxinfo");  // no gx.dll: the escape's keys
    std::vector<uint16_t> escape = key_map(3);
    EXPECT_EQ(escape[key_right], 0x28);
    EXPECT_EQ(escape[key_b], 0xC5);
}

TEST_F(DeviceServices, EscapesDescribeOnlyTheFrameBuffersTheDeviceHas) {
    struct Case {
        const char* profile;
        bool gx_info;
        bool raw;
    };
    const Case cases[] = {{"gxinfo", true, false}, {"vga", false, true}, {"raw-o2", false, true},
                          {"pocketpc", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        use_device(c.profile);
        GXDeviceInfo info{};
        EXPECT_EQ(gx_device_info_query(&info), c.gx_info);
        if (c.gx_info) {
            EXPECT_EQ(info.cxWidth, 240u);
            EXPECT_NE(info.pvFrameBuffer, nullptr);
        }
        RawFrameBufferInfo raw{};
        EXPECT_EQ(raw_frame_buffer_query(&raw), c.raw);
        if (c.raw) EXPECT_EQ(raw.wFormat & 3, 1);
    }
}

TEST_F(DeviceServices, TheMillisecondClockFollowsTheCounter) {
    use_device("pocketpc");
    uint32_t before = timer_now_ms();
    Sleep(25);
    EXPECT_EQ(timer_now_ms() - before, 25u);
}

}  // namespace

// The wizard's decisions, natively under the sanitizers and under Wine.
#include "settings/onboarding_rules.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

std::vector<CaptureDevice> Devices(std::initializer_list<const wchar_t*> ids)
{
    std::vector<CaptureDevice> devices(ids.size());
    size_t i = 0;
    for (const wchar_t* id : ids) {
        devices[i] = {};
        wcscpy(devices[i++].id, id);
    }
    return devices;
}

// The roles after OnboardingDefaultCameras from the given start.
std::pair<std::wstring, std::wstring> Defaults(const std::vector<CaptureDevice>& cameras, const wchar_t* wide,
                                               const wchar_t* macro)
{
    wchar_t wideId[CAPTURE_ID_CAPACITY];
    wchar_t macroId[CAPTURE_ID_CAPACITY];
    wcscpy(wideId, wide);
    wcscpy(macroId, macro);
    OnboardingDefaultCameras(cameras, wideId, macroId);
    return {wideId, macroId};
}

}  // namespace

TEST(OnboardingRules, PagesNeedAFolderAndTwoDifferentListedCameras)
{
    const std::vector<CaptureDevice> cameras = Devices({L"a", L"b"});
    EXPECT_FALSE(OnboardingPageValid(PAGE_FOLDER, {L"", L"a", L"b"}, cameras));
    EXPECT_TRUE(OnboardingPageValid(PAGE_FOLDER, {L"D:\\", L"", L""}, cameras));
    EXPECT_TRUE(OnboardingPageValid(PAGE_CAMERAS, {L"", L"a", L"b"}, cameras));
    EXPECT_FALSE(OnboardingPageValid(PAGE_CAMERAS, {L"", L"a", L"a"}, cameras));
    EXPECT_FALSE(OnboardingPageValid(PAGE_CAMERAS, {L"", L"a", L""}, cameras));
    EXPECT_FALSE(OnboardingPageValid(PAGE_CAMERAS, {L"", L"a", L"gone"}, cameras));
    for (int32_t page : {PAGE_WELCOME, PAGE_MICROPHONE, PAGE_DONE})
        EXPECT_TRUE(OnboardingPageValid(page, {L"", L"", L""}, {}));
}

TEST(OnboardingRules, DefaultCamerasProposeListedDifferentDevices)
{
    const std::vector<CaptureDevice> two = Devices({L"a", L"b"});
    EXPECT_EQ(Defaults(two, L"", L""), std::make_pair(std::wstring(L"a"), std::wstring(L"b")));
    EXPECT_EQ(Defaults(two, L"gone", L"a"), std::make_pair(std::wstring(L"a"), std::wstring(L"b")));
    EXPECT_EQ(Defaults(two, L"b", L"b"), std::make_pair(std::wstring(L"b"), std::wstring(L"a")));
    EXPECT_EQ(Defaults(two, L"b", L"a"), std::make_pair(std::wstring(L"b"), std::wstring(L"a")));  // kept
    EXPECT_EQ(Defaults(Devices({L"a"}), L"", L"x"), std::make_pair(std::wstring(L"a"), std::wstring(L"")));
    EXPECT_EQ(Defaults({}, L"a", L"b"), std::make_pair(std::wstring(L""), std::wstring(L"")));
}

// What the wizard tests do not reach: controls that depend on the folder and the camera count,
// the microphone entry of an unlisted device, list changes in order only, a preview that must
// close when its role changes, and the summary's folder name.
TEST(OnboardingRules, ControlsListsPreviewsAndSummary)
{
    EXPECT_FALSE(OnboardingControlsFor(PAGE_WELCOME, 2, false, true).back);
    EXPECT_TRUE(OnboardingControlsFor(PAGE_FOLDER, 0, false, true).suggestionButton);
    EXPECT_FALSE(OnboardingControlsFor(PAGE_FOLDER, 0, true, true).suggestionButton);
    EXPECT_FALSE(OnboardingControlsFor(PAGE_CAMERAS, 1, true, true).cameraLists);
    EXPECT_TRUE(OnboardingControlsFor(PAGE_CAMERAS, 2, true, true).cameraLists);
    const std::vector<CaptureDevice> microphones = Devices({L"m1", L"m2"});
    EXPECT_EQ(OnboardingMicrophoneEntry(microphones, L"m2"), 2);
    EXPECT_EQ(OnboardingMicrophoneEntry(microphones, L"gone"), 0);
    EXPECT_FALSE(DeviceListsSame(Devices({L"a", L"b"}), Devices({L"b", L"a"})));
    EXPECT_FALSE(DeviceListsSame(Devices({L"a"}), Devices({L"a", L"b"})));
    EXPECT_STREQ(OnboardingWantedPreviews(PAGE_CAMERAS, 2, L"a", L"a").id[1], L"");  // one device is opened once
    EXPECT_STREQ(OnboardingWantedPreviews(PAGE_MICROPHONE, 2, L"a", L"b").id[0], L"");
    EXPECT_TRUE(OnboardingPreviewMustClose(false, L"a", L"b") && !OnboardingPreviewMustClose(false, L"a", L"a"));
    EXPECT_STREQ(OnboardingFolderLeaf(L"C:\\Users\\Ana\\Videos"), L"Videos");
    EXPECT_STREQ(OnboardingFolderLeaf(L"D:\\"), L"D:\\");
    EXPECT_STREQ(OnboardingFolderLeaf(L"Aufnahmen"), L"Aufnahmen");
}

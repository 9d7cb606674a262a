#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "render/graphics_services.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"
#include "tests/support/log_count.h"

namespace {

// The font embedded in this test program, as the program embeds it.
std::string EmbeddedFont()
{
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_FONT_ARCHIVO), MAKEINTRESOURCEW(10));
    if (!info) return {};
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
    return std::string(bytes, SizeofResource(nullptr, info));
}

// The brand family is registered and its collection holds it.
void ExpectBrandFont()
{
    EXPECT_STRNE(BrandFontFamily(), L"Arial Black");
    IDWriteFontCollection* collection = BrandFontCollection();
    ASSERT_NE(collection, nullptr);
    UINT32 index = 0;
    BOOL found = FALSE;
    EXPECT_TRUE(SUCCEEDED(collection->FindFamilyName(BrandFontFamily(), &index, &found)) && found);
}

// Each test starts without a registered font; the services are released again afterwards.
class BrandFont : public ::testing::Test {
protected:
    void SetUp() override { GraphicsServicesRelease(); }
    void TearDown() override { GraphicsServicesRelease(); }
    LogSandbox folder;
    std::wstring path = folder.File(BRAND_FONT_FILE_NAME);
};

TEST_F(BrandFont, WrittenOnceRegisteredAndRewrittenWhenItsSizeDiffers)
{
    const std::string font = EmbeddedFont();
    ASSERT_GT(font.size(), 1000u);
    ExpectBrandFont();
    EXPECT_TRUE(ReadFileBytes(path) == font);
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Markenschrift Archivo Black registriert"), 1u);

    // One of another size is replaced by the embedded font (one of its size is kept: below).
    GraphicsServicesRelease();
    WriteFileBytes(path, "not a font");
    ExpectBrandFont();
    EXPECT_TRUE(ReadFileBytes(path) == font);
}

// A kept file that is no font, and a folder too long for the file's name: "Arial Black", and
// the factories work all the same; no file is written under a cut name.
TEST_F(BrandFont, FallsBackToArialBlackWhenItCannotBeRegistered)
{
    WriteFileBytes(path, std::string(EmbeddedFont().size(), 'x'));  // the embedded size: kept
    EXPECT_STREQ(BrandFontFamily(), L"Arial Black");
    EXPECT_EQ(BrandFontCollection(), nullptr);
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Markenschrift konnte nicht registriert werden (0x"), 1u);
    EXPECT_TRUE(GetD2DFactory() && GetDWriteFactory());

    GraphicsServicesRelease();
    std::wstring deep = std::wstring(folder.Path()) + L"\\" + std::wstring(240 - wcslen(folder.Path()), L'd');
    SettingsSetFolderOverride(deep.c_str());
    EXPECT_STREQ(BrandFontFamily(), L"Arial Black");
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Markenschrift nicht verf\u00fcgbar \u2014 Arial Black wird verwendet"), 1u);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((deep + L"\\Archivo*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    SettingsSetFolderOverride(folder.Path());
}

}  // namespace

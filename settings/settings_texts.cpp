#include "settings/settings_texts.h"

#include <cwchar>

const ShortcutText SHORTCUT_TEXTS[SHORTCUT_TEXT_COUNT] = {
    {L"Leertaste", L"Space", L"Foto aufnehmen", L"Take photo"},
    {L"R", L"R", L"Aufnahme starten / stoppen", L"Start / stop recording"},
    {L"S", L"S", L"Bildstabilisierung ein / aus", L"Image stabilization on / off"},
    {L"W", L"W", L"Wide- und Macro-Kamera tauschen", L"Swap Wide and Macro cameras"},
    {L"M", L"M", L"Mikrofon stummschalten", L"Mute microphone"},
    {L"1 \u2013 9, 0", L"1 \u2013 9, 0", L"Makro-Gr\u00f6\u00dfe 10\u201390 %, 0 = Vollbild",
     L"Macro size 10\u201390 %, 0 = full view"},
    {L"Strg + / Strg \u2212", L"Ctrl + / Ctrl \u2212", L"Makro-Gr\u00f6\u00dfe feiner anpassen", L"Fine-tune Macro size"},
    {L"Strg + Komma", L"Ctrl + comma", L"Einstellungen \u00f6ffnen", L"Open Settings"},
    {L"Strg + Umschalt + O", L"Ctrl + Shift + O", L"Aufnahmeordner im Explorer \u00f6ffnen",
     L"Open recording folder in Explorer"},
    {L"F11", L"F11", L"Vollbild ein / aus", L"Full screen on / off"},
};

namespace {

struct HelpTopic {
    const wchar_t* germanTitle;
    const wchar_t* englishTitle;
    const wchar_t* germanBody;
    const wchar_t* englishBody;
};

constexpr HelpTopic kTopics[] = {
    {L"Kameras anschlie\u00dfen", L"Connect the cameras",
     L"Beide Kameras mit dem mitgelieferten Kabel an einen USB-Anschluss des PCs anschlie\u00dfen. Nach einem "
     L"Wechsel des USB-Anschlusses die Kameras unter \u201eKameras\u201c neu zuordnen.",
     L"Connect both cameras to a USB port of the PC with the supplied cable. After changing the USB port, "
     L"assign the cameras again on the \u201cCameras\u201d tab."},
    {L"Kamera am Kopfband ausrichten", L"Align the camera on the headband",
     L"Die Kamera m\u00f6glichst nah und parallel zu den Okularen der Lupenbrille ausrichten, damit sie "
     L"dasselbe Bild sieht wie Sie.",
     L"Align the camera as close to and as parallel with the loupe oculars as possible, so that it sees "
     L"what you see."},
    {L"Fokus einstellen", L"Set the focus",
     L"Zuerst die untere, dann die obere Makrolinse scharf stellen. Die obere Linse mit ihrer Klemmschraube "
     L"feststellen.",
     L"Focus the lower macro lens first, then the upper one. Lock the upper lens with its clamping screw."},
    {L"Kabel verlegen", L"Route the cable",
     L"Das Kabel durch den Verstellarm des Kopfbands und die Gummischlaufe f\u00fchren und mit dem Clip an "
     L"der Kleidung befestigen.",
     L"Route the cable through the headband's adjustment arm and the rubber loop and fasten it to your "
     L"clothing with the clip."},
    {L"Bild bleibt schwarz?", L"Screen stays black?",
     L"In den Windows-Datenschutzeinstellungen pr\u00fcfen, ob Apps auf die Kamera zugreifen d\u00fcrfen "
     L"(direkter Link im Diagnose-Fenster). Danach die Kamera aus- und wieder einstecken.",
     L"Check in the Windows privacy settings that apps may use the camera (direct link in the diagnostics "
     L"window). Then unplug the camera and plug it in again."},
    {L"Wo landen Aufnahmen?", L"Where do recordings go?",
     L"Videos werden als MP4, Fotos als JPG (Wide, Macro und kombinierte Ansicht) im gew\u00e4hlten "
     L"Aufnahmeordner gespeichert.",
     L"Videos are saved as MP4 and photos as JPG (Wide, Macro and combined view) in the chosen recording "
     L"folder."},
    {L"Macro-Einblendung anpassen", L"Adjust the Macro overlay",
     L"Die Gr\u00f6\u00dfe der Macro-Einblendung mit dem Regler unten rechts, den Tasten 1\u20139 "
     L"(10\u201390 %) und 0 (Vollbild) oder mit Strg + / Strg \u2212 \u00e4ndern.",
     L"Change the size of the Macro overlay with the slider at the bottom right, the keys 1\u20139 "
     L"(10\u201390 %) and 0 (full view) or with Ctrl + / Ctrl \u2212."},
};

void Append(wchar_t* out, size_t capacity, size_t* used, const wchar_t* text)
{
    while (*text && *used + 1 < capacity) out[(*used)++] = *text++;
    out[*used] = 0;
}

}  // namespace

void SettingsHelpText(bool german, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return;
    size_t used = 0;
    out[0] = 0;
    bool first = true;
    for (const HelpTopic& topic : kTopics) {
        if (!first) Append(out, capacity, &used, L"\r\n\r\n");
        first = false;
        Append(out, capacity, &used, L"\u2022 ");
        Append(out, capacity, &used, german ? topic.germanTitle : topic.englishTitle);
        Append(out, capacity, &used, L"\r\n");
        Append(out, capacity, &used, german ? topic.germanBody : topic.englishBody);
    }
}

#include "settings/onboarding_texts.h"

#include <cwchar>

#include "app/texts.h"
#include "settings/onboarding_rules.h"

namespace {

constexpr TextPair TITLES[ONBOARDING_PAGE_COUNT] = {
    {L"", L""},
    {L"Kameras anschlie\u00dfen", L"Connect the cameras"},
    {L"Kamera am Kopfband ausrichten", L"Align the camera on the headband"},
    {L"Kabel verlegen", L"Route the cable"},
    {L"Aufnahmeordner w\u00e4hlen", L"Choose recording folder"},
    {L"Kameras zuordnen", L"Assign the cameras"},
    {L"Mikrofon w\u00e4hlen", L"Choose microphone"},
    {L"So bedienst du MI-RU", L"How to use MI-RU"},
    {L"Fertig", L"Done"},
};

constexpr TextPair BODIES[ONBOARDING_PAGE_COUNT] = {
    {L"Willkommen. MI-RU zeigt deine beiden Lupen-Kameras (Wide + Macro) live als Bild-im-Bild und nimmt sie "
     L"auf \u2014 direkt auf dem Windows-PC. Diese kurze Einrichtung erkl\u00e4rt den Aufbau und legt Ordner, Kameras und "
     L"Mikrofon fest.",
     L"Welcome. MI-RU shows your two loupe cameras (Wide + Macro) live as picture-in-picture and records them \u2014 "
     L"right on your Windows PC. This short setup explains the assembly and sets up the folder, cameras and "
     L"microphone."},
    {L"Schlie\u00dfe beide MI-RU-Kameras mit dem mitgelieferten Kabel an deinen Windows-PC an. Der USB-Hub ist fest in "
     L"der Kamera verbaut \u2014 du brauchst keinen zus\u00e4tzlichen Hub. Wenn du den USB-Anschluss am PC wechselst, ordne "
     L"die Kameras danach kurz neu zu (Einstellungen \u2192 Kameras oder \u201eEinrichtung erneut durchf\u00fchren\u201c).",
     L"Connect both MI-RU cameras to your Windows PC with the supplied cable. The USB hub is built into the camera "
     L"\u2014 you do not need an extra hub. If you change the USB port on your PC, briefly reassign the cameras "
     L"afterwards (Settings \u2192 Cameras or \u201cRun setup again\u201d)."},
    {L"", L""},  // joined from the three parts below
    {L"F\u00e4dle das USB-Kabel durch den Verstellarm am Kopfband und anschlie\u00dfend hinten durch die Schlaufe der "
     L"Gummi-Verstellung des Kopfbands. Befestige zum Schluss den Clip an deiner Kleidung \u2014 so st\u00f6rt das Kabel beim "
     L"Behandeln nicht.",
     L"Thread the USB cable through the adjustment arm on the headband and then through the loop of the headband's "
     L"rubber adjuster at the back. Finally attach the clip to your clothing \u2014 that way the cable does not get in "
     L"the way while treating."},
    {L"Hier speichert MI-RU Videos und Fotos. Du kannst den Ordner sp\u00e4ter in den Einstellungen \u00e4ndern.",
     L"MI-RU saves videos and photos here. You can change the folder later in the settings."},
    {L"Welche Kamera ist Wide (\u00dcbersicht), welche Macro (Nahaufnahme)? Das Vorschaubild hilft beim Unterscheiden \u2014 "
     L"die beiden USB-Kameras hei\u00dfen gleich.",
     L"Which camera is Wide (overview), which is Macro (close-up)? The live preview helps to tell them apart \u2014 the "
     L"two USB cameras have identical names."},
    {L"Womit soll der Ton aufgenommen werden? Du kannst auch ohne Ton aufnehmen.",
     L"What should the sound be recorded with? You can also record without sound."},
    {L"Das Wide-Bild f\u00fcllt das Fenster, die Macro-Kamera liegt als Bild-im-Bild unten. Unten sind Foto- und "
     L"Aufnahme-Knopf, der Mikrofon-Pegel und der Regler f\u00fcr die Macro-Gr\u00f6\u00dfe; oben rechts Aufl\u00f6sung, freier "
     L"Speicher und das Zahnrad f\u00fcr die Einstellungen.",
     L"The Wide image fills the window, the Macro camera sits at the bottom as picture-in-picture. At the bottom "
     L"are the photo and record buttons, the microphone level and the Macro size slider; at the top right "
     L"resolution, free storage and the gear for the settings."},
    {L"Alles eingerichtet. Du kannst jeden Punkt sp\u00e4ter in den Einstellungen \u00e4ndern.",
     L"Everything is set up. You can change every item later in the settings."},
};

constexpr TextPair ALIGNMENT = {
    L"Richte die Kamera mit dem Kopfband so aus, dass sie m\u00f6glichst nah an den Okularen deiner Lupenbrille sitzt "
    L"und m\u00f6glichst parallel dazu zeigt. So erh\u00e4ltst du die beste Perspektive aus Sicht des Behandlers (POV).",
    L"Align the camera on the headband so that it sits as close as possible to the oculars of your loupes and "
    L"points as parallel to them as possible. That gives you the best point-of-view perspective of the "
    L"practitioner (POV)."};
constexpr TextPair FOCUS_HEADING = {L"Fokus einstellen", L"Set the focus"};
constexpr TextPair FOCUS = {
    L"Der Fokus kann sich verstellen \u2014 du justierst ihn direkt an den Linsen.\n\nUntere Makro-Linse: leicht nach "
    L"links oder rechts drehen, bis das Bild auf deinen individuellen Arbeitsabstand scharf ist. Stelle das am "
    L"besten an einem Patienten am Stuhl in echter Arbeitsposition ein \u2014 im Stehen oder frei im Raum ist der "
    L"Abstand oft ein anderer.\n\nObere Makro-Linse: ebenfalls drehen, bis das Bild scharf ist, und dann mit der "
    L"kleinen Klemmschraube gegen das Kamerageh\u00e4use feststellen, damit sie sich nicht wieder verstellt.",
    L"The focus can drift \u2014 you adjust it directly at the lenses.\n\nLower macro lens: turn it slightly left or "
    L"right until the image is sharp at your individual working distance. Ideally set this with a patient in the "
    L"chair in your real working position \u2014 standing or in free space the distance is often different.\n\nUpper "
    L"macro lens: turn it as well until the image is sharp, then lock it against the camera housing with the "
    L"small clamping screw so it cannot drift again."};

constexpr ShortcutRow SHORTCUTS[ONBOARDING_SHORTCUT_COUNT] = {
    {{L"Leertaste", L"Space"}, {L"Foto aufnehmen", L"Take a photo"}},
    {{L"R", L"R"}, {L"Aufnahme starten / stoppen", L"Start / stop recording"}},
    {{L"W", L"W"}, {L"Wide- und Macro-Kamera tauschen", L"Swap the Wide and Macro cameras"}},
    {{L"M", L"M"}, {L"Mikrofon stummschalten", L"Mute the microphone"}},
    {{L"1 \u2013 9, 0", L"1 \u2013 9, 0"}, {L"Makro-Gr\u00f6\u00dfe 10\u201390 %, 0 = Vollbild", L"Macro size 10\u201390 %, 0 = full view"}},
    {{L"Strg + / Strg \u2212", L"Ctrl + / Ctrl \u2212"}, {L"Makro-Gr\u00f6\u00dfe feiner anpassen", L"Fine-tune the Macro size"}},
    {{L"Strg ,", L"Ctrl ,"}, {L"Einstellungen \u00f6ffnen", L"Open the settings"}},
    {{L"Strg Umschalt O", L"Ctrl Shift O"}, {L"Aufnahmeordner im Explorer \u00f6ffnen", L"Open the recording folder in Explorer"}},
};

// Page 2's text, joined once per language.
wchar_t mountingText[2][4096];

}  // namespace

const OnboardingTextSet OnboardingTexts = {
    {L"MI-RU \u2013 Einrichtung", L"MI-RU \u2013 Setup"},
    {L"MI-RU", L"MI-RU"},
    {L"Los geht's", L"Let's go"},
    {L"Weiter", L"Continue"},
    {L"Einrichtung abschlie\u00dfen", L"Finish setup"},
    {L"Zur\u00fcck", L"Back"},
    {L"Ordner w\u00e4hlen\u2026", L"Choose folder\u2026"},
    {L"Vorschlag \u00fcbernehmen", L"Use suggestion"},
    {L"Vorschlag: \u201eMI-RU Aufnahmen\u201c in deinem Videos-Ordner.", L"Suggestion: \u201cMI-RU Aufnahmen\u201d in your Videos folder."},
    {L"Wide (\u00dcbersicht)", L"Wide (overview)"},
    {L"Macro (Nahaufnahme)", L"Macro (close-up)"},
    {L"Bitte zwei verschiedene Kameras w\u00e4hlen.", L"Please choose two different cameras."},
    {L"Es ist noch keine zweite Kamera angeschlossen.", L"No second camera is connected yet."},
    {L"Bitte beide MI-RU-Kameras mit dem mitgelieferten Kabel anstecken. Die Liste aktualisiert sich automatisch.",
     L"Please plug in both MI-RU cameras with the supplied cable. The list updates automatically."},
    {L"Kein Ton", L"No sound"},
    {L"Standard ist \u201eKein Ton\u201c. Ein angeschlossenes USB-Mikrofon erscheint hier zur Auswahl.",
     L"The default is \u201cNo sound\u201d. A connected USB microphone appears here for selection."},
    {L"Tastenk\u00fcrzel", L"Keyboard shortcuts"},
    {L"Aufnahmeordner", L"Recording folder"},
    {L"Wide-Kamera", L"Wide camera"},
    {L"Macro-Kamera", L"Macro camera"},
    {L"Mikrofon", L"Microphone"},
    {L"Die Einrichtung konnte nicht gespeichert werden. Details stehen im Diagnose-Protokoll. Bitte erneut "
     L"\u201eEinrichtung abschlie\u00dfen\u201c w\u00e4hlen.",
     L"The setup could not be saved. The diagnostics log has the details. Please choose \u201cFinish setup\u201d "
     L"again."},
};

const wchar_t* Pick(const TextPair& pair)
{
    return PickText(pair.german, pair.english);
}

const wchar_t* OnboardingPageTitle(int32_t page)
{
    return page >= 0 && page < ONBOARDING_PAGE_COUNT ? Pick(TITLES[page]) : L"";
}

const wchar_t* OnboardingPageText(int32_t page)
{
    if (page < 0 || page >= ONBOARDING_PAGE_COUNT) return L"";
    if (page != PAGE_MOUNTING) return Pick(BODIES[page]);
    const int language = IsGermanUi() ? 0 : 1;
    wchar_t* text = mountingText[language];
    if (text[0] == L'\0')
        swprintf(text, 4096, L"%ls\n\n%ls\n%ls", Pick(ALIGNMENT), Pick(FOCUS_HEADING), Pick(FOCUS));
    return text;
}

const ShortcutRow& OnboardingShortcut(int32_t row)
{
    return SHORTCUTS[row >= 0 && row < ONBOARDING_SHORTCUT_COUNT ? row : 0];
}

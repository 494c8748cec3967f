// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "locale/langid.h"

namespace {

struct TerritoryId {
    QLocale::Language language;
    QLocale::Territory territory;
    quint16 id;
};

struct LanguageId {
    QLocale::Language language;
    quint16 id;
};

// Exact language and territory pairs (the common ones Windows knows).
constexpr TerritoryId kTerritories[] = {
    {QLocale::English, QLocale::UnitedStates, 0x0409},
    {QLocale::English, QLocale::UnitedKingdom, 0x0809},
    {QLocale::English, QLocale::Australia, 0x0C09},
    {QLocale::English, QLocale::Canada, 0x1009},
    {QLocale::English, QLocale::NewZealand, 0x1409},
    {QLocale::English, QLocale::Ireland, 0x1809},
    {QLocale::English, QLocale::SouthAfrica, 0x1C09},
    {QLocale::English, QLocale::India, 0x4009},
    {QLocale::English, QLocale::Singapore, 0x4809},
    {QLocale::French, QLocale::France, 0x040C},
    {QLocale::French, QLocale::Belgium, 0x080C},
    {QLocale::French, QLocale::Canada, 0x0C0C},
    {QLocale::French, QLocale::Switzerland, 0x100C},
    {QLocale::French, QLocale::Luxembourg, 0x140C},
    {QLocale::German, QLocale::Germany, 0x0407},
    {QLocale::German, QLocale::Switzerland, 0x0807},
    {QLocale::German, QLocale::Austria, 0x0C07},
    {QLocale::German, QLocale::Luxembourg, 0x1007},
    {QLocale::German, QLocale::Liechtenstein, 0x1407},
    {QLocale::Spanish, QLocale::Spain, 0x0C0A},
    {QLocale::Spanish, QLocale::Mexico, 0x080A},
    {QLocale::Spanish, QLocale::Argentina, 0x2C0A},
    {QLocale::Spanish, QLocale::UnitedStates, 0x540A},
    {QLocale::Italian, QLocale::Italy, 0x0410},
    {QLocale::Italian, QLocale::Switzerland, 0x0810},
    {QLocale::Portuguese, QLocale::Brazil, 0x0416},
    {QLocale::Portuguese, QLocale::Portugal, 0x0816},
    {QLocale::Dutch, QLocale::Netherlands, 0x0413},
    {QLocale::Dutch, QLocale::Belgium, 0x0813},
    {QLocale::Swedish, QLocale::Sweden, 0x041D},
    {QLocale::Swedish, QLocale::Finland, 0x081D},
    {QLocale::Chinese, QLocale::China, 0x0804},
    {QLocale::Chinese, QLocale::Taiwan, 0x0404},
    {QLocale::Chinese, QLocale::HongKong, 0x0C04},
    {QLocale::Chinese, QLocale::Singapore, 0x1004},
    {QLocale::Chinese, QLocale::Macau, 0x1404},
    {QLocale::Arabic, QLocale::SaudiArabia, 0x0401},
    {QLocale::Arabic, QLocale::Egypt, 0x0C01},
    {QLocale::Arabic, QLocale::UnitedArabEmirates, 0x3801},
    {QLocale::Korean, QLocale::SouthKorea, 0x0412},
};

// The language's default id, for any other territory or none.
constexpr LanguageId kLanguages[] = {
    {QLocale::English, 0x0409},   {QLocale::Japanese, 0x0411},  {QLocale::French, 0x040C},
    {QLocale::German, 0x0407},    {QLocale::Spanish, 0x0C0A},   {QLocale::Italian, 0x0410},
    {QLocale::Portuguese, 0x0416}, {QLocale::Dutch, 0x0413},    {QLocale::Swedish, 0x041D},
    {QLocale::Chinese, 0x0804},   {QLocale::Korean, 0x0412},    {QLocale::Russian, 0x0419},
    {QLocale::Polish, 0x0415},    {QLocale::Danish, 0x0406},    {QLocale::NorwegianBokmal, 0x0414},
    {QLocale::NorwegianNynorsk, 0x0814}, {QLocale::Finnish, 0x040B}, {QLocale::Czech, 0x0405},
    {QLocale::Hungarian, 0x040E}, {QLocale::Turkish, 0x041F},   {QLocale::Greek, 0x0408},
    {QLocale::Hebrew, 0x040D},    {QLocale::Arabic, 0x0401},    {QLocale::Thai, 0x041E},
    {QLocale::Vietnamese, 0x042A}, {QLocale::Indonesian, 0x0421}, {QLocale::Ukrainian, 0x0422},
    {QLocale::Romanian, 0x0418},  {QLocale::Slovak, 0x041B},    {QLocale::Slovenian, 0x0424},
    {QLocale::Croatian, 0x041A},  {QLocale::Bulgarian, 0x0402}, {QLocale::Lithuanian, 0x0427},
    {QLocale::Latvian, 0x0426},   {QLocale::Estonian, 0x0425},  {QLocale::Catalan, 0x0403},
    {QLocale::Hindi, 0x0439},     {QLocale::Malay, 0x043E},
};

} // namespace

quint16 LangIdFromLocale(const QLocale& locale)
{
    const QLocale::Language language = locale.language();
    const QLocale::Territory territory = locale.territory();
    // Traditional Chinese without a territory that says so still is Taiwan's.
    if (language == QLocale::Chinese && locale.script() == QLocale::TraditionalChineseScript
        && territory != QLocale::HongKong && territory != QLocale::Macau)
        return 0x0404;
    for (const auto& t : kTerritories) {
        if (t.language == language && t.territory == territory)
            return t.id;
    }
    for (const auto& l : kLanguages) {
        if (l.language == language)
            return l.id;
    }
    return 0x0409;
}

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/vocabulary.h"

#include <algorithm>

namespace vocab {

namespace {

template <class T, size_t N>
int indexOf(const std::array<T, N>& items, const QString& word)
{
    for (size_t i = 0; i < N; ++i)
        if (word == QLatin1String(items[i]))
            return int(i);
    return -1;
}

}  // namespace

std::optional<int> DeviceNamed(const QString& name)
{
    const int i = indexOf(kDeviceNames, name);
    return i < 0 ? std::nullopt : std::optional<int>(i);
}

std::optional<UsageWords> UsageWordsFor(int device)
{
    switch (device) {
    case kEthernetDevice: return UsageWords{kUsageChosen, 0};
    case kSerialDevice: return UsageWords{0, kUsageChosen};
    default: return std::nullopt;
    }
}

int ParityPosition(char letter)
{
    const auto it = std::find(kParityLetters.begin(), kParityLetters.end(), letter);
    return it == kParityLetters.end() ? -1 : int(it - kParityLetters.begin());
}

int StopBitPosition(const QString& text) { return indexOf(kStopBitTexts, text); }

qint32 TokenCode(int element) { return kTokenCodes.at(size_t(element)); }

int TokenElement(qint32 code)
{
    // Every code from 65535 up is Open, as the controller reads it.
    const qint32 option = std::min(code, kTokenCodes[0]);
    const auto it = std::find(kTokenCodes.begin(), kTokenCodes.end(), option);
    return it == kTokenCodes.end() ? -1 : int(it - kTokenCodes.begin());
}

std::optional<int> TokenNamed(const QString& name)
{
    const int i = indexOf(kTokenNames, name);
    return i < 0 ? std::nullopt : std::optional<int>(i);
}

QString OneOf(const QStringList& words)
{
    if (words.size() < 2)
        return words.join(QString());
    return words.mid(0, words.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") + words.last();
}

QStringList ParityWords()
{
    QStringList words;
    for (char letter : kParityLetters)
        words << QString(QLatin1Char(letter));
    return words;
}

QStringList BaudWords()
{
    QStringList words;
    for (int rate : kBaudRates)
        words << QString::number(rate);
    return words;
}

}  // namespace vocab

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Mapping of a Qt locale to a Windows language id (primary language | sublanguage << 10).

#include <QLocale>
#include <QtGlobal>

// A known language and territory gives its exact id (fr_CA 3084); a known language
// with another territory gives the language's default id (any ja 1041); the C locale
// and languages not in the table give 1033.
quint16 LangIdFromLocale(const QLocale& locale);

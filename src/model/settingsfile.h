#pragma once

#include "ui/appsettings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QSize>
#include <QStringList>

// The form of "settings.json": one member per field of AppSettings, named like the field, plus
// "geometry" = [width, height]. The legacy "uiPasswordHash" is read, never written.
QJsonObject settingsToJson(const AppSettings& settings, const QSize& windowSize);
// Indented JSON with sorted keys, so an unchanged record gives byte-identical files.
QByteArray serializeSettings(const AppSettings& settings, const QSize& windowSize);

// Fills `settings` from a settings object, clamping as it reads. Every scalar field is overwritten
// (a missing or mistyped member, or a fractional number, gives the field's default); arrays overwrite
// only the entries they hold; "geometry" sets `savedSize` only when it is an array of exactly two.
// The button layouts are normalised and the settings button is always visible afterwards.
// A protection hash that is present but can't be read (not a text, or beyond the bounds the panel writes)
// becomes the unreadable marker: the protection stays on.
void settingsFromJson(const QJsonObject& object, AppSettings& settings, QSize& savedSize);

// What reading the object drops or changes of the values it holds, one "key = value (why)" each: a mistyped or
// out-of-range value, a text cut short, an unreadable password hash, an array with foreign entries. Missing
// keys are not listed (their defaults change nothing the user set).
QStringList settingsValuesChangedOnLoad(const QJsonObject& object);

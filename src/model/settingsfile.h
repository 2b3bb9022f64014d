#pragma once

#include "ui/appsettings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QSize>

// The form of "settings.json": one member per field of AppSettings, named like the field, plus
// "geometry" = [width, height]. The legacy "uiPasswordHash" is read, never written.
QJsonObject settingsToJson(const AppSettings& settings, const QSize& windowSize);
// Indented JSON with sorted keys, so an unchanged record gives byte-identical files.
QByteArray serializeSettings(const AppSettings& settings, const QSize& windowSize);

// Fills `settings` from a settings object, clamping as it reads. Every scalar field is overwritten
// (a missing or mistyped member, or a fractional number, gives the field's default); arrays overwrite
// only the entries they hold; "geometry" sets `savedSize` only when it is an array of exactly two.
// The button layouts are normalised and the settings button is always visible afterwards.
void settingsFromJson(const QJsonObject& object, AppSettings& settings, QSize& savedSize);

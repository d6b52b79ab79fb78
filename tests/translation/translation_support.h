// Helpers for the translator's tests: a language file in a fresh folder,
// and the release timer's time passing on the test's own clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/window.h"
#include "support/test_support.h"
#include "translation/Translator.h"

namespace tarvel::test {

class TranslatorTest : public ::testing::Test {
 protected:
  // Lng writes the language file and points a new translator at it.
  TWtransl& Lng(const std::string& text) {
    WriteWholeFile(file, text);
    translator = std::make_unique<TWtransl>(nullptr, clock_);
    translator->SetLanguageFile(file);
    translator->SetCurrentLanguage("EN");
    return *translator;
  }
  // ReleaseTimeGoesBy lets the release timer's interval pass without a pass.
  void ReleaseTimeGoesBy() {
    clock_.Advance(TWtransl::kReleaseIntervalMs);
    platform::ProcessPendingMessages();
  }

  platform::SimulatedTicks clock_{5000};
  TempDir dir;
  std::string file = dir.File("tarvel.lng");
  std::unique_ptr<TWtransl> translator;
};

// The file most tests use.
inline const char* const kGermanFile =
    "[Languages]\r\n$EN=English\r\n$DE=Deutsch\r\nDefault=EN\r\n\r\n"
    "EN:>Save\r\nDE:>&Speichern\r\n\r\n"
    "EN:>Save File\r\nDE:>Datei speichern\r\n\r\n"
    "EN:>save all\r\nDE:>Alles speichern\r\n\r\n"
    "EN:>Line1%0D%0ALine2\r\nDE:>Zeile1%0D%0AZeile2\r\n\r\n"
    "EN:>100% sure\r\nDE:>100% sicher %41\r\n\r\n"
    "EN:>Timeout\r\nDE:>Zeitlimit\r\n\r\n"
    "EN:>Second\r\nDE:>Sekunde\r\n\r\n"
    "EN:>Minute\r\nDE:>Minute (de)\r\n\r\n";

}  // namespace tarvel::test

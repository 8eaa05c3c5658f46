#pragma once
// The user-interface language, decided once at start-up from the locale.
namespace tw {

enum class Language { English = 0, Japanese = 1 };

// Picks a text from an English/Japanese pair.
template <typename T>
constexpr const T& pick(Language lang, const T& en, const T& ja) {
  return lang == Language::Japanese ? ja : en;
}

}  // namespace tw

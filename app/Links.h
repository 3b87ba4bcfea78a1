#pragma once

// The maker's addresses shown or opened by the program.
namespace Links {
inline constexpr const char *ProductName = "Glyphtack";
inline constexpr const char *HomePage = "https://pellorin.example.com/glyphtack/";
inline constexpr const char *ContactPage = "https://pellorin.example.com/contact/";
inline constexpr const char *SupportEmail = "support@pellorin.example.com";
} // namespace Links

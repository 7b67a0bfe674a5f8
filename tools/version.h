// The version every tool reports with --version.
#pragma once

constexpr const char* TesselVersion = "0.1.0";

// The LV2 binaries take their entry points from the static libraries linked whole.

// Placeholder translation unit until the runtime unit lands.

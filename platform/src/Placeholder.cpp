// Placeholder translation unit until the seam lands.

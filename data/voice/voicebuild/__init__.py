"""Voice building from recordings: screening, repair and shaping of syllable
units before vesk-voice packs them into a voice library."""

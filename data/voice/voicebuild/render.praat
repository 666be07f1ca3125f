# Re-synthesises units by pitch-synchronous overlap-add (PSOLA): each row of
# a tab-separated job table names a source sound, the part of it to keep,
# and optional pitch and duration tiers (in the part's own time, starting at
# 0) to impose. The voice's own pulses carry the new contour, so the
# speaker stays the speaker.
form Render units
  sentence jobFile jobs.tsv
endform
jobs = Read Table from tab-separated file: jobFile$
rows = Get number of rows
for i to rows
  selectObject: jobs
  source$ = Get value: i, "source"
  output$ = Get value: i, "output"
  start = Get value: i, "start"
  end = Get value: i, "end"
  pitchTier$ = Get value: i, "pitch"
  durationTier$ = Get value: i, "duration"
  floor = Get value: i, "floor"
  ceiling = Get value: i, "ceiling"
  # Overlap-add draws noise for unvoiced stretches: seeded per unit, so the
  # same recordings give the same voice on any machine.
  seed = Get value: i, "seed"
  random_initializeWithSeedUnsafelyButPredictably (seed)
  sound = Read from file: source$
  part = Extract part: start, end, "rectangular", 1, "no"
  # Pitch analysis needs three periods of the floor inside the part.
  floor = max (floor, 3.2 / (end - start))
  manipulation = To Manipulation: 0.01, floor, max (ceiling, floor * 2)
  if pitchTier$ <> "-"
    tier = Read from file: pitchTier$
    selectObject: manipulation
    plusObject: tier
    Replace pitch tier
    removeObject: tier
  endif
  if durationTier$ <> "-"
    tier = Read from file: durationTier$
    selectObject: manipulation
    plusObject: tier
    Replace duration tier
    removeObject: tier
  endif
  selectObject: manipulation
  result = Get resynthesis (overlap-add)
  # Saved as 16-bit samples: never let a new peak wrap around.
  peak = Get absolute extremum: 0, 0, "None"
  if peak > 0.99
    Scale peak: 0.99
  endif
  Save as WAV file: output$
  removeObject: sound, part, manipulation, result
endfor
removeObject: jobs
random_initializeSafelyAndUnpredictably ()

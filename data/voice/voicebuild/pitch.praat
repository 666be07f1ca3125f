# Tracks the pitch of every sound file named in a list, one per line, and
# writes NAME.f0 beside OUT_DIR: a line per 5 ms frame, time and F0 in Hz
# (0 where the frame is unvoiced).
form Track pitch
  sentence listFile list.txt
  sentence outDir out
  positive floor 100
  positive ceiling 600
endform
list = Read Strings from raw text file: listFile$
count = Get number of strings
for i to count
  selectObject: list
  path$ = Get string: i
  sound = Read from file: path$
  duration = Get total duration
  # Too short to hold three periods of the floor: no pitch at all.
  text$ = "0.0000" + tab$ + "0.00" + newline$
  if duration >= 3 / floor + 0.01
    # A higher octave-jump cost than the default keeps creaky endings from
    # doubling or halving the contour.
    pitch = To Pitch (ac): 0.005, floor, 15, "no", 0.03, 0.3, 0.01, 0.35, 0.35, ceiling
    frames = Get number of frames
    text$ = ""
    for f to frames
      t = Get time from frame number: f
      v = Get value in frame: f, "Hertz"
      if v = undefined
        v = 0
      endif
      text$ = text$ + fixed$(t, 4) + tab$ + fixed$(v, 2) + newline$
    endfor
    removeObject: pitch
  endif
  base$ = replace_regex$(path$, "^.*/", "", 1)
  base$ = replace_regex$(base$, "\.[^.]*$", "", 1)
  writeFile: outDir$ + "/" + base$ + ".f0", text$
  removeObject: sound
endfor

# The inputs and option sets that scripts/same-output.sh (a change against a baseline commit) and
# scripts/pipe-output.sh (a pipe against a file) run the program on. Sourced by both.

# Scenarios of tsgen, each generated in 188-byte units; those of units_more also in 192 and 204.
scenarios=(hd sd3 hd2sd bs cs hier null events audio hd2cs damaged)
units_more=(hd events audio damaged)

# Option sets: each row runs on every input, named rec.ts and given last. Empty row: defaults.
# "@long" names the input with 250 bytes instead (outputs then pass 255 bytes), "@jp" with 30
# Japanese characters and 100 ASCII ones (193 bytes, 266 as UTF-16). Every run has an empty
# folder "out" and a list file "inputs.lst" (rec.ts, "rec.ts", missing.ts) beside the input.
option_sets=(
  ""
  "-EIT -ECM -EMM"
  "-EIT"
  "-NULL"
  "-NULL -EIT -ECM -EMM -LOGFILE"
  "-CS"
  "-CS212"
  "-CS -SEP2 -GOP -LOGFILE"
  "-SEP"
  "-SEP -OVL2,1,0,0"
  "-SEP -OVL1,-1,1,1"
  "-SEP2"
  "-SEP2 -OVL2,1,0,0"
  "-SEP2 -OVL1,-1,1,1"
  "-SEP3"
  "-SEP3 -OVL2,1,0,0"
  "-SEP3 -OVL1,-1,1,1"
  "-SEP3 -OVL3,2,1,1"
  "-SEPA"
  "-SEPA2"
  "-SEPA3"
  "-SEPAC"
  "-SEPA2C"
  "-SEPA3C"
  "-SEPA -OVL2,1,0,0"
  "-SEPA3C -OVL1,-1,1,1"
  "-GOP"
  "-GOPCH"
  "-GOPTIME"
  "-GOPCH -GOPTIME"
  "-PTS"
  "-GOPONLY"
  "-GOPONLYCH"
  "-GOPONLYTIME"
  "-LOG"
  "-LOG -LOGFILE"
  "-BUFF 0"
  "-BUFF 1"
  "-SD1 -HD"
  "-SD"
  "-1SEG"
  "-PID140,901"
  "-OUT out -SEP2 -GOP -LOGFILE"
  "-SEP2 -GOPCH -PTS -LOGFILE"
  "-SEP -SEPA -GOPCH -GOPTIME -EIT"
  "-SEP2 -SEPA2C -OVL2,1,1,1 -GOP -PTS -BUFF 0"
  "-EIT -ECM -EMM -SEP2 -OVL1,-2,0,1 -GOPTIME -LOGFILE -BUFF 1"
  "-SEP2 -LOGFILE rec.ts"
  "@long"
  "-FLEN @long"
  "-FLEN -SEP2 -GOP -LOGFILE @long"
  "-FLEN -UNI -SEPA -GOP @jp"
)

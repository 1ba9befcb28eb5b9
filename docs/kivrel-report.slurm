#!/bin/sh
# kivrel report's per-file step as a Slurm job array: one task a file, each
# writing its own JSON report, merged afterwards with kivrel report --merge.
#   sbatch --array=1-$(wc -l <files.txt) docs/kivrel-report.slurm
#SBATCH --job-name=kivrel-qc --cpus-per-task=2 --array=1-1000%50
# files.txt: one name a line, relative to the archive's root, in the order
# the merged report lists them; names are kept as given in every report.
cd /archive || exit 1
file=$(sed -n "${SLURM_ARRAY_TASK_ID}p" files.txt)
# The report at the input's own path under qc/, so that inputs of one name
# in different folders keep a report each.
report="qc/${file}.json"
mkdir -p "$(dirname "$report")" || exit 1
exec kivrel report "$file" --rule r103 -o "$report"

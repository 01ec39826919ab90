# The Dante front's TFTP relay against the same server with an empty parent.
quillon_bench_with_bed(bench_dfu_front quillon_dfu)

quillon_fuzz(fuzz_utf8 quillon_jlib)

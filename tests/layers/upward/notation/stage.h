// A notation header, for the layer check's own test.

// Macro stabiliser (being written)

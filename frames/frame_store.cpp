// Frame store (being written)

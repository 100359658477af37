// placeholder until the start-up spine lands

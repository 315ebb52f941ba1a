# Placeholder until the host test target lands.

def render():
    pass
